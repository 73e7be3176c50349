// Draws every picture of the manager's resource bundle into a folder (normally
// src/resources): the PNGs at their fixed sizes and the .ico files with their images.
// The rendered files are committed; run this after changing a drawing, then look at them.
//
//   render_resources <output folder>        (needs QT_QPA_PLATFORM=offscreen without a display)

#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtMath>

#include <cstdio>
#include <functional>
#include <vector>

namespace {

// One palette for the whole set.
const QColor kBlue(0x1f, 0x5f, 0xaf);
const QColor kBlueLight(0x4a, 0x8d, 0xde);
const QColor kBlueDark(0x14, 0x3d, 0x73);
const QColor kGold(0xe8, 0xa8, 0x20);
const QColor kGoldDark(0xb0, 0x76, 0x0a);
const QColor kGoldLight(0xf7, 0xd0, 0x6a);
const QColor kSteel(0x8a, 0x96, 0xa6);
const QColor kSteelDark(0x55, 0x61, 0x70);
const QColor kSteelLight(0xd5, 0xdc, 0xe5);
const QColor kPaper(0xff, 0xff, 0xff);
const QColor kInk(0x9a, 0xa6, 0xb4);
const QColor kRed(0xd6, 0x3b, 0x30);
const QColor kGreen(0x2e, 0x9e, 0x5b);
const QColor kTextDark(0x1d, 0x2b, 0x3c);
const QColor kTextGrey(0x6b, 0x77, 0x85);

using Drawing = std::function<void(QPainter&)>;

// Renders a drawing made on a designWidth x designHeight grid into an image of the given size.
QImage render(int width, int height, qreal designWidth, qreal designHeight, const Drawing& draw)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing | QPainter::SmoothPixmapTransform);
    painter.scale(width / designWidth, height / designHeight);
    draw(painter);
    painter.end();
    return image;
}

QLinearGradient vertical(qreal top, qreal bottom, const QColor& from, const QColor& to)
{
    QLinearGradient gradient(0, top, 0, bottom);
    gradient.setColorAt(0, from);
    gradient.setColorAt(1, to);
    return gradient;
}

// ----- the brand mark: a white shield with a keyhole on a blue rounded square (100 x 100)

void drawMark(QPainter& p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(vertical(0, 100, kBlueLight, kBlueDark));
    p.drawRoundedRect(QRectF(2, 2, 96, 96), 22, 22);

    QPainterPath shield;
    shield.moveTo(50, 16);
    shield.cubicTo(62, 23, 72, 25, 80, 25);
    shield.cubicTo(80, 55, 70, 74, 50, 86);
    shield.cubicTo(30, 74, 20, 55, 20, 25);
    shield.cubicTo(28, 25, 38, 23, 50, 16);
    p.setBrush(kPaper);
    p.drawPath(shield);

    QPainterPath keyhole;
    keyhole.addEllipse(QPointF(50, 44), 9, 9);
    QPainterPath slot;
    slot.moveTo(45.5, 48);
    slot.lineTo(54.5, 48);
    slot.lineTo(57, 68);
    slot.lineTo(43, 68);
    slot.closeSubpath();
    p.setBrush(kBlue);
    p.drawPath(keyhole.united(slot));
}

// The mark with the name beside it; tagline may be empty.
void drawLogo(QPainter& p, qreal height, qreal nameSize, const QString& tagline)
{
    const qreal markSize = height * 0.84;
    const qreal markTop = (height - markSize) / 2;
    p.save();
    p.translate(0, markTop);
    p.scale(markSize / 100, markSize / 100);
    drawMark(p);
    p.restore();

    const qreal textLeft = markSize + height * 0.16;
    QFont nameFont("DejaVu Sans");
    nameFont.setBold(true);
    nameFont.setPixelSize(qRound(nameSize));
    nameFont.setLetterSpacing(QFont::PercentageSpacing, 98);
    p.setFont(nameFont);
    p.setPen(kBlueDark);
    const qreal nameBaseline = tagline.isEmpty() ? height / 2 + nameSize * 0.36 : height * 0.56;
    p.drawText(QPointF(textLeft, nameBaseline), "Velkora");
    if (tagline.isEmpty())
        return;
    // The tagline runs exactly under the name: the largest size that fits its width.
    const qreal nameWidth = QFontMetricsF(nameFont).horizontalAdvance(QStringLiteral("Velkora"));
    QFont tagFont("DejaVu Sans");
    int tagSize = qRound(nameSize * 0.4);
    tagFont.setPixelSize(tagSize);
    while (tagSize > 6 && QFontMetricsF(tagFont).horizontalAdvance(tagline) > nameWidth)
        tagFont.setPixelSize(--tagSize);
    p.setFont(tagFont);
    p.setPen(kTextGrey);
    p.drawText(QPointF(textLeft + nameSize * 0.04, nameBaseline + nameSize * 0.2 + tagSize), tagline);
}

// ----- the token: a USB key seen from the front, on a 24 x 24 grid

void drawToken(QPainter& p)
{
    // metal plug
    p.setPen(QPen(kSteelDark, 0.8));
    p.setBrush(vertical(1, 8, kSteelLight, kSteel));
    p.drawRoundedRect(QRectF(8.5, 1.5, 7, 7), 1, 1);
    p.setPen(Qt::NoPen);
    p.setBrush(kSteelDark);
    p.drawRect(QRectF(10, 3.5, 1.5, 1.5));
    p.drawRect(QRectF(12.5, 3.5, 1.5, 1.5));
    // body
    p.setPen(QPen(kBlueDark, 0.8));
    p.setBrush(vertical(7, 23, kBlueLight, kBlue));
    p.drawRoundedRect(QRectF(6.5, 7.5, 11, 15), 3, 3);
    // light and key-ring hole
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x7d, 0xf0, 0xa8));
    p.drawEllipse(QPointF(12, 12), 1.4, 1.4);
    p.setBrush(QColor(255, 255, 255, 200));
    p.drawEllipse(QPointF(12, 19), 1.6, 1.6);
}

// A round badge in the bottom-right corner of a 24 grid.
void drawBadge(QPainter& p, const QColor& colour, const std::function<void(QPainter&)>& glyph)
{
    p.setPen(QPen(Qt::white, 1.2));
    p.setBrush(colour);
    p.drawEllipse(QPointF(18, 18), 5.4, 5.4);
    p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    glyph(p);
}

void drawTokenInfo(QPainter& p)
{
    p.save();
    p.translate(-3, 0);
    drawToken(p);
    p.restore();
    drawBadge(p, kBlue, [](QPainter& q) {
        q.drawLine(QPointF(18, 17.3), QPointF(18, 20.6));
        q.setPen(Qt::NoPen);
        q.setBrush(Qt::white);
        q.drawEllipse(QPointF(18, 15), 0.95, 0.95);
    });
}

void drawTokenIn(QPainter& p)
{
    p.save();
    p.translate(-3, 0);
    drawToken(p);
    p.restore();
    drawBadge(p, kGreen, [](QPainter& q) {
        q.drawLine(QPointF(18, 15), QPointF(18, 21));
        q.drawLine(QPointF(15, 18), QPointF(21, 18));
    });
}

void drawTokenOut(QPainter& p)
{
    p.save();
    p.translate(-3, 0);
    drawToken(p);
    p.restore();
    drawBadge(p, kRed, [](QPainter& q) { q.drawLine(QPointF(15, 18), QPointF(21, 18)); });
}

// ----- certificate: a sheet with text lines and a gold seal, on a 24 x 24 grid

void drawCertificate(QPainter& p)
{
    p.setPen(QPen(kSteel, 0.9));
    p.setBrush(kPaper);
    p.drawRoundedRect(QRectF(1.5, 3.5, 21, 15), 1.5, 1.5);
    p.setPen(Qt::NoPen);
    p.setBrush(kBlue);
    p.drawRect(QRectF(4, 6, 16, 1.6));
    p.setBrush(kInk);
    p.drawRect(QRectF(4, 9.2, 9, 1.1));
    p.drawRect(QRectF(4, 11.6, 8, 1.1));
    p.drawRect(QRectF(4, 14, 6, 1.1));
    // ribbon tails, then the seal
    p.setBrush(kRed);
    QPolygonF left({QPointF(14.6, 15), QPointF(17, 15), QPointF(16.2, 22.5), QPointF(15, 21), QPointF(13.4, 22)});
    QPolygonF right({QPointF(17, 15), QPointF(19.4, 15), QPointF(20.6, 22), QPointF(19, 21), QPointF(17.8, 22.5)});
    p.drawPolygon(left);
    p.drawPolygon(right);
    QRadialGradient seal(QPointF(16.3, 12.8), 4.5);
    seal.setColorAt(0, kGoldLight);
    seal.setColorAt(1, kGold);
    p.setPen(QPen(kGoldDark, 0.7));
    p.setBrush(seal);
    p.drawEllipse(QPointF(17, 13.5), 3.7, 3.7);
    p.setPen(QPen(kGoldDark, 0.6));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(17, 13.5), 2.2, 2.2);
}

// ----- keys: two keys crossing, on a 30 x 35 grid

void drawKey(QPainter& p, const QColor& light, const QColor& dark)
{
    // drawn pointing down from a ring centred at (0, 0)
    QPainterPath key;
    key.addEllipse(QPointF(0, 0), 6.5, 6.5);
    key.addRect(QRectF(-1.8, 5, 3.6, 18));
    key.addRect(QRectF(1.8, 15, 3.5, 2.6));
    key.addRect(QRectF(1.8, 19.6, 4.8, 2.8));
    QPainterPath hole;
    hole.addEllipse(QPointF(0, -1.8), 2.4, 2.4);
    p.setPen(QPen(dark, 0.9));
    p.setBrush(vertical(-6, 23, light, dark.lighter(115)));
    p.drawPath(key.simplified().subtracted(hole));
}

void drawKeys(QPainter& p)
{
    p.save();
    p.translate(19, 8.5);
    p.rotate(28);
    drawKey(p, kSteelLight, kSteelDark);
    p.restore();
    p.save();
    p.translate(10.5, 8.5);
    p.rotate(-22);
    drawKey(p, kGoldLight, kGoldDark);
    p.restore();
}

// ----- folder, on a 24 x 24 grid

void drawFolder(QPainter& p)
{
    QPainterPath back;
    back.moveTo(2, 5.5);
    back.quadTo(2, 4, 3.5, 4);
    back.lineTo(9, 4);
    back.lineTo(11, 6.5);
    back.lineTo(20.5, 6.5);
    back.quadTo(22, 6.5, 22, 8);
    back.lineTo(22, 19);
    back.lineTo(2, 19);
    back.closeSubpath();
    p.setPen(QPen(kGoldDark, 0.9));
    p.setBrush(kGold);
    p.drawPath(back);
    p.setPen(Qt::NoPen);
    p.setBrush(kPaper);
    p.drawRect(QRectF(4, 8, 16, 6));
    QPainterPath front;
    front.moveTo(2, 10);
    front.lineTo(22, 10);
    front.lineTo(22, 19.2);
    front.quadTo(22, 20.5, 20.5, 20.5);
    front.lineTo(3.5, 20.5);
    front.quadTo(2, 20.5, 2, 19.2);
    front.closeSubpath();
    p.setPen(QPen(kGoldDark, 0.9));
    p.setBrush(vertical(10, 20.5, kGoldLight, kGold));
    p.drawPath(front);
}

// ----- padlocks: body from y 10 to 22 on a 24 x 24 grid; the shackle can be open

// A shackle 10 wide whose arc starts at top; each leg ends where given.
void drawShackle(QPainter& p, qreal top, qreal leftEnd, qreal rightEnd)
{
    p.setPen(QPen(kSteelDark, 2.6, Qt::SolidLine, Qt::FlatCap));
    p.setBrush(Qt::NoBrush);
    QPainterPath shackle;
    shackle.moveTo(7, leftEnd);
    shackle.lineTo(7, top + 5);
    shackle.arcTo(QRectF(7, top, 10, 10), 180, -180);
    shackle.lineTo(17, rightEnd);
    p.drawPath(shackle);
}

void drawLockBody(QPainter& p, qreal top, qreal height)
{
    p.setPen(QPen(kBlueDark, 0.9));
    p.setBrush(vertical(top, top + height, kBlueLight, kBlue));
    p.drawRoundedRect(QRectF(4, top, 16, height), 2.5, 2.5);
}

void drawKeyholeAt(QPainter& p, qreal centreY)
{
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(12, centreY - 1), 2.2, 2.2);
    p.drawPolygon(QPolygonF(
        {QPointF(11.4, centreY), QPointF(12.6, centreY), QPointF(13.2, centreY + 3.6), QPointF(10.8, centreY + 3.6)}));
}

void drawLock(QPainter& p)
{
    drawShackle(p, 2.5, 11, 11);
    drawLockBody(p, 10, 12.5);
    drawKeyholeAt(p, 15.5);
}

void drawUnlock(QPainter& p)
{
    drawShackle(p, 0.5, 7, 11);
    drawLockBody(p, 10, 12.5);
    drawKeyholeAt(p, 15.5);
}

// The password picture (24 x 31): a taller padlock with three PIN dots.
void drawPassword(QPainter& p)
{
    drawShackle(p, 3.5, 14, 14);
    drawLockBody(p, 13, 16.5);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    for (int i = 0; i < 3; ++i)
        p.drawEllipse(QPointF(8 + 4 * i, 21.2), 1.45, 1.45);
}

// ----- pencil (25 x 23)

void drawPencil(QPainter& p)
{
    p.translate(12.5, 11.5);
    p.rotate(-45);
    // along the x axis from the tip (-13) to the eraser (+13), 6 wide
    const qreal half = 3;
    p.setPen(QPen(kBlueDark, 0.8));
    QLinearGradient body(0, -half, 0, half);
    body.setColorAt(0, kBlueLight);
    body.setColorAt(1, kBlue);
    p.setBrush(body);
    p.drawRect(QRectF(-6, -half, 14, 2 * half));
    p.setPen(QPen(kSteelDark, 0.7));
    p.setBrush(vertical(-half, half, kSteelLight, kSteel));
    p.drawRect(QRectF(8, -half, 2.4, 2 * half));
    p.setPen(QPen(QColor(0xa8, 0x2d, 0x24), 0.7));
    p.setBrush(QColor(0xe8, 0x6a, 0x5e));
    p.drawRoundedRect(QRectF(10.4, -half, 2.8, 2 * half), 1, 1);
    p.setPen(QPen(QColor(0xb0, 0x8a, 0x5a), 0.7));
    p.setBrush(QColor(0xf1, 0xd3, 0xa5));
    p.drawPolygon(QPolygonF({QPointF(-6, -half), QPointF(-12.5, 0), QPointF(-6, half)}));
    p.setPen(Qt::NoPen);
    p.setBrush(kTextDark);
    p.drawPolygon(QPolygonF({QPointF(-10.3, -1), QPointF(-12.5, 0), QPointF(-10.3, 1)}));
}

// ----- trash can (21 x 23)

void drawTrash(QPainter& p)
{
    p.setPen(QPen(kSteelDark, 0.9));
    p.setBrush(vertical(6, 22, kSteelLight, kSteel));
    QPainterPath can;
    can.moveTo(3.5, 6.5);
    can.lineTo(17.5, 6.5);
    can.lineTo(16.3, 20.5);
    can.quadTo(16.2, 22, 14.7, 22);
    can.lineTo(6.3, 22);
    can.quadTo(4.8, 22, 4.7, 20.5);
    can.closeSubpath();
    p.drawPath(can);
    p.setPen(QPen(kSteelDark, 1.1, Qt::SolidLine, Qt::RoundCap));
    for (qreal x : {7.6, 10.5, 13.4})
        p.drawLine(QPointF(x, 9.5), QPointF(x, 19));
    p.setPen(QPen(kSteelDark, 0.9));
    p.setBrush(kSteel);
    p.drawRoundedRect(QRectF(1.5, 3.5, 18, 3), 1, 1);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kSteelDark, 1.4));
    p.drawRoundedRect(QRectF(7.5, 1, 6, 3), 1, 1);
}

// ----- soft keyboard (29 x 23)

void drawKeyboard(QPainter& p)
{
    p.setPen(QPen(kBlueDark, 0.9));
    p.setBrush(vertical(3, 21, kBlueLight, kBlue));
    p.drawRoundedRect(QRectF(1.5, 3.5, 26, 16), 2.5, 2.5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 230));
    for (int row = 0; row < 2; ++row)
        for (int col = 0; col < 6; ++col)
            p.drawRoundedRect(QRectF(4 + col * 3.6 + row * 1.2, 6 + row * 3.6, 2.6, 2.6), 0.6, 0.6);
    p.drawRoundedRect(QRectF(8, 13.6, 13, 2.6), 0.6, 0.6);
}

// ----- flags (24 x 24): a 24 x 16 flag centred vertically

QPainterPath flagShape()
{
    QPainterPath shape;
    shape.addRoundedRect(QRectF(0.5, 4.5, 23, 15), 1.5, 1.5);
    return shape;
}

void drawStar(QPainter& p, QPointF centre, qreal radius, qreal rotationDegrees)
{
    QPolygonF star;
    for (int i = 0; i < 10; ++i) {
        const qreal r = (i % 2 == 0) ? radius : radius * 0.382;
        const qreal angle = qDegreesToRadians(rotationDegrees - 90 + i * 36.0);
        star << QPointF(centre.x() + r * qCos(angle), centre.y() + r * qSin(angle));
    }
    p.drawPolygon(star);
}

void drawChina(QPainter& p)
{
    const QPainterPath shape = flagShape();
    p.save();
    p.setClipPath(shape);
    p.fillRect(QRectF(0, 4, 24, 16), QColor(0xde, 0x29, 0x10));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xff, 0xde, 0x00));
    // the grid of the flag: one unit is 24 / 30
    const qreal unit = 23.0 / 30.0;
    auto at = [&](qreal x, qreal y) { return QPointF(0.5 + x * unit, 4.5 + y * unit); };
    drawStar(p, at(5, 5), 3 * unit, 0);
    const QPointF small[] = {at(10, 2), at(12, 4), at(12, 7), at(10, 9)};
    for (const QPointF& c : small) {
        const QPointF big = at(5, 5);
        const qreal towards = qRadiansToDegrees(qAtan2(big.y() - c.y(), big.x() - c.x())) + 90;
        drawStar(p, c, 1.05 * unit, towards);
    }
    p.restore();
    p.setPen(QPen(QColor(0, 0, 0, 60), 0.6));
    p.setBrush(Qt::NoBrush);
    p.drawPath(shape);
}

void drawEngland(QPainter& p)
{
    const QPainterPath shape = flagShape();
    p.save();
    p.setClipPath(shape);
    p.fillRect(QRectF(0, 4, 24, 16), Qt::white);
    const QColor red(0xce, 0x11, 0x24);
    p.fillRect(QRectF(10, 4, 4, 16), red);
    p.fillRect(QRectF(0, 10, 24, 4), red);
    p.restore();
    p.setPen(QPen(QColor(0, 0, 0, 70), 0.6));
    p.setBrush(Qt::NoBrush);
    p.drawPath(shape);
}

// ----- writing the files

bool writePng(const QString& folder, const QString& name, const QImage& image)
{
    const QString path = QDir(folder).filePath(name);
    if (image.save(path, "PNG"))
        return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

// A picture at its size as name.png and at twice its size, drawn from the same drawing, as
// name@2x.png for screens with a pixel ratio of 2.
bool writePngs(const QString& folder, const QString& name, int width, int height, qreal designWidth, qreal designHeight,
               const Drawing& draw)
{
    const bool plain = writePng(folder, name + ".png", render(width, height, designWidth, designHeight, draw));
    const bool sharp
        = writePng(folder, name + "@2x.png", render(2 * width, 2 * height, designWidth, designHeight, draw));
    return plain && sharp;
}

void putLe16(QByteArray& out, quint16 value)
{
    out.append(char(value & 0xff));
    out.append(char(value >> 8));
}

void putLe32(QByteArray& out, quint32 value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.append(char((value >> shift) & 0xff));
}

// One image of an .ico file: a 32-bit BMP with alpha, rows bottom-up, then an all-clear
// AND mask (the alpha channel already carries the transparency).
QByteArray icoBitmap(const QImage& source)
{
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    const int width = image.width();
    const int height = image.height();
    const int maskStride = ((width + 31) / 32) * 4;
    QByteArray out;
    putLe32(out, 40);
    putLe32(out, quint32(width));
    putLe32(out, quint32(height * 2));
    putLe16(out, 1);
    putLe16(out, 32);
    putLe32(out, 0);
    putLe32(out, quint32(width * height * 4 + maskStride * height));
    putLe32(out, 0);
    putLe32(out, 0);
    putLe32(out, 0);
    putLe32(out, 0);
    for (int y = height - 1; y >= 0; --y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            out.append(char(qBlue(row[x])));
            out.append(char(qGreen(row[x])));
            out.append(char(qRed(row[x])));
            out.append(char(qAlpha(row[x])));
        }
    }
    out.append(QByteArray(maskStride * height, '\0'));
    return out;
}

bool writeIco(const QString& folder, const QString& name, const std::vector<QImage>& images)
{
    QByteArray header;
    putLe16(header, 0);
    putLe16(header, 1);
    putLe16(header, quint16(images.size()));
    std::vector<QByteArray> bitmaps;
    quint32 offset = 6 + 16 * quint32(images.size());
    for (const QImage& image : images) {
        bitmaps.push_back(icoBitmap(image));
        header.append(char(image.width() >= 256 ? 0 : image.width()));
        header.append(char(image.height() >= 256 ? 0 : image.height()));
        header.append(char(0));
        header.append(char(0));
        putLe16(header, 1);
        putLe16(header, 32);
        putLe32(header, quint32(bitmaps.back().size()));
        putLe32(header, offset);
        offset += quint32(bitmaps.back().size());
    }
    QFile file(QDir(folder).filePath(name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
        return false;
    }
    file.write(header);
    for (const QByteArray& bitmap : bitmaps)
        file.write(bitmap);
    return file.flush();
}

} // namespace

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
