// The drawings of the manager's pictures and of the desktop icon. Each draws on its own design
// grid (given beside it); render() scales a drawing to any pixel size.
#pragma once

#include <QImage>
#include <QPainter>
#include <QString>

#include <functional>

namespace pictures {

using Drawing = std::function<void(QPainter&)>;

// Renders a drawing made on a designWidth x designHeight grid into an image of the given size.
QImage render(int width, int height, qreal designWidth, qreal designHeight, const Drawing& draw);

void drawMark(QPainter& p); // the brand mark, 100 x 100
// The mark with the name beside it, height high; tagline may be empty.
void drawLogo(QPainter& p, qreal height, qreal nameSize, const QString& tagline);

// 24 x 24
void drawTokenInfo(QPainter& p);
void drawTokenIn(QPainter& p);
void drawTokenOut(QPainter& p);
void drawCertificate(QPainter& p);
void drawFolder(QPainter& p);
void drawLock(QPainter& p);
void drawUnlock(QPainter& p);
void drawChina(QPainter& p);
void drawEngland(QPainter& p);

void drawKeys(QPainter& p); // 30 x 35
void drawPassword(QPainter& p); // 24 x 31
void drawPencil(QPainter& p); // 25 x 23
void drawTrash(QPainter& p); // 21 x 23
void drawKeyboard(QPainter& p); // 29 x 23

} // namespace pictures
