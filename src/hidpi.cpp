// hidpi: choosing between a picture and its @2x twin.
#include "hidpi.h"

#include <QFile>

namespace hidpi {

QPixmap picture(const QString& path, qreal ratio)
{
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    if (ratio > 1.0 && dot > 0) {
        const QString sharp = path.left(dot) + QStringLiteral("@2x") + path.mid(dot);
        QPixmap pixmap;
        if (QFile::exists(sharp) && pixmap.load(sharp)) {
            pixmap.setDevicePixelRatio(2.0);
            return pixmap;
        }
    }
    return QPixmap(path);
}

} // namespace hidpi
