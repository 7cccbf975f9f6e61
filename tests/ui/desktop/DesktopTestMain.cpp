#include <gtest/gtest.h>

#include <QApplication>

// The desktop services need a QApplication on the test's thread. Under run-on-desktop.sh it runs
// on the private X server; started by hand without a display, on the offscreen platform.
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
