#include <gtest/gtest.h>

#include <QApplication>

// The tray transfer runs on the private X server and session bus that run-on-desktop.sh gives it
// (QT_QPA_PLATFORM=xcb), with one QApplication for the whole executable.
int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
