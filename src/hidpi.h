// hidpi: the bundle's pictures at the screen's pixel ratio. Every picture of the bundle has
// a twin of twice the size (name@2x.png); QIcon finds it by itself, a label's pixmap does not.
#pragma once

#include <QPixmap>
#include <QString>

namespace hidpi {

// The picture at path, or its @2x twin marked with ratio 2 when ratio is above 1 and the
// twin exists; either way it takes the same room on the screen.
QPixmap picture(const QString& path, qreal ratio);

} // namespace hidpi
