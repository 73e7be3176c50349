// Writes rendered pictures into a folder; each reports a file it cannot write on stderr and
// returns false.
#pragma once

#include "drawings.h"

#include <QImage>
#include <QString>

#include <vector>

namespace pictures {

bool writePng(const QString& folder, const QString& name, const QImage& image);
// name.png at the size given and name@2x.png at twice that size, for screens with a pixel
// ratio of 2, both drawn from the same drawing.
bool writePngs(const QString& folder, const QString& name, int width, int height, qreal designWidth, qreal designHeight,
               const Drawing& draw);
bool writeIco(const QString& folder, const QString& name, const std::vector<QImage>& images);

} // namespace pictures
