#include <cstring>

#include <gtest/gtest.h>

#include <QApplication>

#include "DesktopTestChild.h"

// The desktop services need a QApplication on the test's thread. Under run-on-desktop.sh it runs
// on the private X server; started by hand without a display, on the offscreen platform.
int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], kTestChildFlag) == 0)
        return RunTestChild(argc, argv);
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
