#include <gtest/gtest.h>

#include <QApplication>

#include "foundation/StringTable.h"

// Widget tests need a QApplication on the test's thread; they run on the offscreen platform.
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    SetStringLanguage(2057);
    return RUN_ALL_TESTS();
}
