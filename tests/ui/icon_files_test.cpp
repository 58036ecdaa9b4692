// The .ico writer: what Windows reads back from the file must be the images given, the
// right way up, with their transparency.
#include "ui/qt/icon_files.h"

#include <gtest/gtest.h>

#include <QtEndian>

namespace orvante::ui::qt {
namespace {

quint32 Le32(const QByteArray& bytes, qsizetype at) {
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

quint16 Le16(const QByteArray& bytes, qsizetype at) {
    return qFromLittleEndian<quint16>(bytes.constData() + at);
}

TEST(IcoFile, HoldsEachImageBottomUpWithItsMaskAndThe256AsPng) {
    // 16 x 16, opaque red but for a transparent top-left pixel and a blue bottom-left one.
    QImage small(16, 16, QImage::Format_ARGB32);
    small.fill(qRgba(255, 0, 0, 255));
    small.setPixel(0, 0, qRgba(0, 0, 0, 0));
    small.setPixel(0, 15, qRgba(0, 0, 255, 255));
    QImage large(256, 256, QImage::Format_ARGB32);
    large.fill(qRgba(0, 255, 0, 128));

    const QByteArray ico = IcoFile({small, large});
    ASSERT_GE(ico.size(), 6 + 2 * 16);
    EXPECT_EQ(Le16(ico, 2), 1u);  // an icon
    ASSERT_EQ(Le16(ico, 4), 2u);  // two images
    // Directory: width, height (0 for 256), size and offset that lie inside the file.
    const struct {
        int width;
        quint32 dataAt;
    } entries[] = {{16, Le32(ico, 6 + 12)}, {0, Le32(ico, 6 + 16 + 12)}};
    for (int i = 0; i < 2; ++i) {
        const qsizetype dir = 6 + 16 * i;
        EXPECT_EQ(static_cast<unsigned char>(ico[dir]), entries[i].width);
        EXPECT_LE(entries[i].dataAt + Le32(ico, dir + 8), static_cast<quint32>(ico.size()));
    }

    // The 16: a bitmap twice as high as the icon (colour rows, then the mask), bottom up.
    const qsizetype dib = entries[0].dataAt;
    EXPECT_EQ(Le32(ico, dib), 40u);
    EXPECT_EQ(Le32(ico, dib + 8), 32u);
    const qsizetype colour = dib + 40;
    EXPECT_EQ(Le32(ico, colour), qRgba(0, 0, 255, 255)) << "the first row is the bottom one";
    EXPECT_EQ(Le32(ico, colour + 15 * 16 * 4), 0u) << "the last row is the top one";
    const qsizetype mask = colour + 16 * 16 * 4;  // 4 bytes a mask row
    EXPECT_EQ(static_cast<unsigned char>(ico[mask + 15 * 4]), 0x80) << "top-left transparent";
    EXPECT_EQ(static_cast<unsigned char>(ico[mask]), 0x00) << "bottom row opaque";

    // The 256: a PNG of the image.
    const QByteArray png = ico.mid(entries[1].dataAt);
    EXPECT_TRUE(png.startsWith("\x89PNG"));
    EXPECT_EQ(QImage::fromData(png).convertToFormat(QImage::Format_ARGB32).pixel(10, 10),
              large.pixel(10, 10));
}

}  // namespace
}  // namespace orvante::ui::qt
