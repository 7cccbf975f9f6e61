// Draws one of the program's pictures as PNG files for an icon theme, at build time:
//   tolva-render-icons <picture id> <theme folder> <icon name> <size>...
// writes <theme folder>/<size>x<size>/apps/<icon name>.png for every size, with the same
// renderer the program draws its icons with at run time.
#include <cstdio>

#include <QDir>
#include <QGuiApplication>
#include <QPixmap>

#include "desktop/Pictures.h"

int main(int argc, char* argv[])
{
    // Rendering needs no display: the build may run where there is none.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() < 5) {
        std::fprintf(stderr, "usage: tolva-render-icons <picture id> <theme folder> <icon name> <size>...\n");
        return 2;
    }
    bool bOk = false;
    const unsigned nId = arguments[1].toUInt(&bOk);
    if (!bOk || PictureSize(nId).isEmpty()) {
        std::fprintf(stderr, "tolva-render-icons: no picture with id %s\n", qPrintable(arguments[1]));
        return 1;
    }
    for (qsizetype i = 4; i < arguments.size(); ++i) {
        const int nSize = arguments[i].toInt(&bOk);
        if (!bOk || nSize <= 0 || nSize > 1024) {
            std::fprintf(stderr, "tolva-render-icons: not a size: %s\n", qPrintable(arguments[i]));
            return 2;
        }
        const QString sFolder = QStringLiteral("%1/%2x%2/apps").arg(arguments[2]).arg(nSize);
        const QString sFile = sFolder + "/" + arguments[3] + ".png";
        if (!QDir().mkpath(sFolder) || !LoadPicture(nId, QSize(nSize, nSize)).save(sFile, "PNG")) {
            std::fprintf(stderr, "tolva-render-icons: cannot write %s\n", qPrintable(sFile));
            return 1;
        }
    }
    return 0;
}
