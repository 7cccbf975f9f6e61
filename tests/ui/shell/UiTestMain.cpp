#include <gtest/gtest.h>

#include <QApplication>

// The shell's tests run on the offscreen platform (set by CTest; set here too for a run by hand),
// with one QApplication for the whole executable.
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
