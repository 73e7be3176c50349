// Writes rendered pictures as the resource bundle and the desktop want them: PNG files, a 1x
// and @2x pair, and .ico files of 32-bit images.

#include "picturefiles.h"

#include "drawings.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <cstdio>

namespace pictures {

namespace {

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

} // namespace

bool writePng(const QString& folder, const QString& name, const QImage& image)
{
    const QString path = QDir(folder).filePath(name);
    if (image.save(path, "PNG"))
        return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

bool writePngs(const QString& folder, const QString& name, int width, int height, qreal designWidth, qreal designHeight,
               const Drawing& draw)
{
    const bool plain = writePng(folder, name + ".png", render(width, height, designWidth, designHeight, draw));
    const bool sharp
        = writePng(folder, name + "@2x.png", render(2 * width, 2 * height, designWidth, designHeight, draw));
    return plain && sharp;
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

} // namespace pictures
