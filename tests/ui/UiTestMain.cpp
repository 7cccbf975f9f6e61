#include <gtest/gtest.h>

#include <QApplication>

// The main of every desktop-program test executable: one QApplication for the whole executable,
// on the platform CTest sets (offscreen, or xcb on the private X server of run-on-desktop.sh);
// offscreen for a run by hand.
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
