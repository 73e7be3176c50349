// Draws the application icon of the desktop entry into hicolor/<N>x<N>/apps/ at the usual
// sizes. The icon is the brand mark of the resource bundle, drawn by the same library as the
// window's pictures, so the two can never drift apart.
//
//   render_icons <output folder>        (needs QT_QPA_PLATFORM=offscreen without a display)

#include "drawings.h"
#include "picturefiles.h"

#include <QDir>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    bool ok = true;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256, 512}) {
        const QString folder = QStringLiteral("%1/hicolor/%2x%2/apps").arg(out).arg(size);
        ok &= QDir().mkpath(folder);
        const QImage icon = pictures::render(size, size, 100, 100, pictures::drawMark);
        ok &= pictures::writePng(folder, QStringLiteral("com.qorvex.ovrinkey.png"), icon);
    }
    return ok ? 0 : 1;
}
