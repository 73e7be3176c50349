// The drawings of the manager's pictures and of the desktop icon, each on its own design grid,
// and the one function that renders a drawing at a pixel size. The pictures at 1x and 2x and
// the hicolor icons all come from here, so they cannot drift apart.

#include "drawings.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtMath>

namespace pictures {

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

QLinearGradient vertical(qreal top, qreal bottom, const QColor& from, const QColor& to)
{
    QLinearGradient gradient(0, top, 0, bottom);
    gradient.setColorAt(0, from);
    gradient.setColorAt(1, to);
    return gradient;
}

} // namespace

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

static void drawToken(QPainter& p)
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

// The token moved left, with a round badge in the bottom-right corner holding a white glyph.
static void drawTokenWithBadge(QPainter& p, const QColor& colour, const std::function<void(QPainter&)>& glyph)
{
    p.save();
    p.translate(-3, 0);
    drawToken(p);
    p.restore();
    p.setPen(QPen(Qt::white, 1.2));
    p.setBrush(colour);
    p.drawEllipse(QPointF(18, 18), 5.4, 5.4);
    p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    glyph(p);
}

void drawTokenInfo(QPainter& p)
{
    drawTokenWithBadge(p, kBlue, [](QPainter& q) {
        q.drawLine(QPointF(18, 17.3), QPointF(18, 20.6));
        q.setPen(Qt::NoPen);
        q.setBrush(Qt::white);
        q.drawEllipse(QPointF(18, 15), 0.95, 0.95);
    });
}

void drawTokenIn(QPainter& p)
{
    drawTokenWithBadge(p, kGreen, [](QPainter& q) {
        q.drawLine(QPointF(18, 15), QPointF(18, 21));
        q.drawLine(QPointF(15, 18), QPointF(21, 18));
    });
}

void drawTokenOut(QPainter& p)
{
    drawTokenWithBadge(p, kRed, [](QPainter& q) { q.drawLine(QPointF(15, 18), QPointF(21, 18)); });
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

static void drawKey(QPainter& p, const QColor& light, const QColor& dark)
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
static void drawShackle(QPainter& p, qreal top, qreal leftEnd, qreal rightEnd)
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

static void drawLockBody(QPainter& p, qreal top, qreal height)
{
    p.setPen(QPen(kBlueDark, 0.9));
    p.setBrush(vertical(top, top + height, kBlueLight, kBlue));
    p.drawRoundedRect(QRectF(4, top, 16, height), 2.5, 2.5);
}

static void drawKeyholeAt(QPainter& p, qreal centreY)
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

static QPainterPath flagShape()
{
    QPainterPath shape;
    shape.addRoundedRect(QRectF(0.5, 4.5, 23, 15), 1.5, 1.5);
    return shape;
}

static void drawStar(QPainter& p, QPointF centre, qreal radius, qreal rotationDegrees)
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

} // namespace pictures
