#include "ui/qt/icon_files.h"

#include <QBuffer>
#include <QtEndian>

#include "ui/qt/qt_icons.h"

namespace orvante::ui::qt {

namespace {

void PutLe16(QByteArray& out, quint16 value) {
    char bytes[2];
    qToLittleEndian(value, bytes);
    out.append(bytes, 2);
}

void PutLe32(QByteArray& out, quint32 value) {
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

QByteArray PngOf(const QImage& image) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

// A BITMAPINFOHEADER (its height counts the colour rows and the mask's), the colour rows
// bottom up in BGRA, then the 1-bit mask (set where the icon is transparent), each of
// its rows padded to 32 bits.
QByteArray DibOf(const QImage& source) {
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    const int size = image.width();
    QByteArray dib;
    PutLe32(dib, 40);
    PutLe32(dib, static_cast<quint32>(size));
    PutLe32(dib, static_cast<quint32>(2 * size));
    PutLe16(dib, 1);                              // planes
    PutLe16(dib, 32);                             // bits per pixel
    for (int i = 0; i < 6; ++i) PutLe32(dib, 0);  // no compression, sizes, colours
    for (int y = size - 1; y >= 0; --y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < size; ++x) PutLe32(dib, row[x]);  // ARGB32 is BGRA in memory
    }
    const int maskRowBytes = ((size + 31) / 32) * 4;
    for (int y = size - 1; y >= 0; --y) {
        QByteArray maskRow(maskRowBytes, '\0');
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < size; ++x) {
            if (qAlpha(row[x]) == 0)
                maskRow[x / 8] = static_cast<char>(maskRow[x / 8] | (0x80 >> (x % 8)));
        }
        dib.append(maskRow);
    }
    return dib;
}

}  // namespace

QImage IconImage(IconId id, int size) {
    return MakeIconPixmap(id, size).toImage().convertToFormat(QImage::Format_ARGB32);
}

QByteArray IcoFile(const std::vector<QImage>& images) {
    std::vector<QByteArray> entries;
    for (const QImage& image : images) {
        entries.push_back(image.width() >= 256 ? PngOf(image) : DibOf(image));
    }
    QByteArray ico;
    PutLe16(ico, 0);  // reserved
    PutLe16(ico, 1);  // an icon
    PutLe16(ico, static_cast<quint16>(images.size()));
    quint32 offset = 6 + 16 * static_cast<quint32>(images.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
        const int size = images[i].width();
        ico.append(static_cast<char>(size >= 256 ? 0 : size));  // 0 stands for 256
        ico.append(static_cast<char>(size >= 256 ? 0 : size));
        ico.append('\0');  // no palette
        ico.append('\0');
        PutLe16(ico, 1);   // planes
        PutLe16(ico, 32);  // bits per pixel
        PutLe32(ico, static_cast<quint32>(entries[i].size()));
        PutLe32(ico, offset);
        offset += static_cast<quint32>(entries[i].size());
    }
    for (const QByteArray& entry : entries) ico.append(entry);
    return ico;
}

}  // namespace orvante::ui::qt
