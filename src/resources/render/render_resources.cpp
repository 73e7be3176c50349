// Draws every picture of the manager's resource bundle into a folder (normally
// src/resources): the PNGs at their fixed sizes and the .ico files with their images.
// The rendered files are committed; run this after changing a drawing, then look at them.
//
//   render_resources <output folder>        (needs QT_QPA_PLATFORM=offscreen without a display)

#include "drawings.h"
#include "picturefiles.h"

#include <QGuiApplication>

#include <cstdio>

using namespace pictures;

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const QString tagline = QStringLiteral("Token & Certificate Manager");
    const auto mark = [](int size) { return render(size, size, 100, 100, drawMark); };

    bool ok = true;
    ok &= writePngs(out, "cert3", 24, 24, 24, 24, drawCertificate);
    ok &= writePngs(out, "cert72", 72, 72, 24, 24, drawCertificate);
    ok &= writePngs(out, "China", 24, 24, 24, 24, drawChina);
    ok &= writePngs(out, "England", 24, 24, 24, 24, drawEngland);
    ok &= writePngs(out, "edit", 25, 23, 25, 23, drawPencil);
    ok &= writePngs(out, "folder", 24, 24, 24, 24, drawFolder);
    ok &= writePngs(out, "infousb", 32, 32, 24, 24, drawTokenInfo);
    ok &= writePngs(out, "keys", 30, 35, 30, 35, drawKeys);
    ok &= writePngs(out, "lock", 24, 24, 24, 24, drawLock);
    ok &= writePngs(out, "unlock", 24, 24, 24, 24, drawUnlock);
    ok &= writePngs(out, "pwd", 24, 31, 24, 31, drawPassword);
    ok &= writePngs(out, "softkeyboard", 29, 23, 29, 23, drawKeyboard);
    ok &= writePngs(out, "trash", 21, 23, 21, 23, drawTrash);
    ok &= writePngs(out, "usbIn", 24, 24, 24, 24, drawTokenIn);
    ok &= writePngs(out, "usbOut", 24, 24, 24, 24, drawTokenOut);
    ok &= writePngs(out, "VQlogo", 340, 93, 340, 93, [&](QPainter& p) { drawLogo(p, 93, 50, tagline); });
    ok &= writePngs(out, "VQlogo1", 200, 55, 200, 55, [&](QPainter& p) { drawLogo(p, 55, 29, tagline); });
    ok &= writeIco(out, "VQlogo1.ico", {mark(190)});
    ok &= writeIco(out, "mgr_op.ico", {mark(16), mark(32)});
    ok &= writeIco(out, "test.ico", {render(145, 40, 145, 40, [](QPainter& p) { drawLogo(p, 40, 26, {}); })});
    return ok ? 0 : 1;
}
