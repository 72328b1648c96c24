#include "zkApplicationIcon.h"

#include <QIconEngine>
#include <QPainter>

#include <algorithm>
#include <cstring>

namespace {

// Hands everything to the whole icon but the list of its sizes.
class TSmallSizesEngine final : public QIconEngine {
public:
    explicit TSmallSizesEngine(QIcon all) : All(std::move(all)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        All.paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return All.actualSize(size, mode, state);
    }
    // Sizes here are in pixels: the whole icon is asked at a ratio of one.
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return All.pixmap(size, 1.0, mode, state);
    }
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal) override {
        return All.pixmap(size, 1.0, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override {
        const QList<QSize> sizes = All.availableSizes(mode, state);
        QList<QSize> small;
        std::copy_if(sizes.begin(), sizes.end(), std::back_inserter(small), [](const QSize& size) {
            return size.width() <= zkApplicationIcon::StartSizeLimit &&
                   size.height() <= zkApplicationIcon::StartSizeLimit;
        });
        return small.isEmpty() ? sizes : small;
    }
    bool isNull() override { return All.isNull(); }
    QString key() const override { return QStringLiteral("velquist-small-sizes"); }
    QIconEngine* clone() const override { return new TSmallSizesEngine(All); }

private:
    QIcon All;
};

} // namespace

namespace zkApplicationIcon {

QList<QImage> SmallBitmapImages(const QByteArray& file, int limit) {
    const auto* bytes = reinterpret_cast<const uchar*>(file.constData());
    const qsizetype size = file.size();
    const auto u16 = [bytes](qsizetype at) { return quint32(bytes[at] | bytes[at + 1] << 8); };
    const auto u32 = [&u16](qsizetype at) { return u16(at) | u16(at + 2) << 16; };
    // The directory: reserved 0, type 1 (an icon), the count, then 16 bytes an entry.
    if (size < 6 || u16(0) != 0 || u16(2) != 1)
        return {};
    const qsizetype count = u16(4);
    if (size < 6 + 16 * count)
        return {};
    QList<QImage> images;
    for (qsizetype entry = 6; entry < 6 + 16 * count; entry += 16) {
        const int width = bytes[entry] ? bytes[entry] : 256;
        const int height = bytes[entry + 1] ? bytes[entry + 1] : 256;
        if (width > limit || height > limit)
            continue;
        const qsizetype length = u32(entry + 8), at = u32(entry + 12);
        if (at > size || length > size - at || length < 40)
            return {};
        // A BITMAPINFOHEADER for twice the height (the colours, then the transparency mask),
        // 32 bits a pixel, not compressed; anything else (a PNG, a palette) is Qt's to read.
        const qsizetype header = u32(at);
        if (header < 40 || header > length || qint32(u32(at + 4)) != width ||
            qint32(u32(at + 8)) != 2 * height || u16(at + 12) != 1 || u16(at + 14) != 32 ||
            u32(at + 16) != 0)
            return {};
        const qsizetype rowBytes = qsizetype(width) * 4, maskRowBytes = (width + 31) / 32 * 4;
        const qsizetype pixels = at + header;
        if (length - header < rowBytes * height)
            return {};
        const bool hasMask = length - header >= (rowBytes + maskRowBytes) * height;
        // Rows run bottom up, each pixel blue, green, red, alpha: ARGB32 in memory.
        QImage image(width, height, QImage::Format_ARGB32);
        if (image.isNull())
            return {};
        bool anyAlpha = false;
        for (int y = 0; y < height; ++y) {
            const uchar* row = bytes + pixels + qsizetype(height - 1 - y) * rowBytes;
            std::memcpy(image.scanLine(y), row, size_t(rowBytes));
            for (qsizetype x = 3; x < rowBytes && !anyAlpha; x += 4)
                anyAlpha = row[x] != 0;
        }
        // Older icons leave alpha at zero and say what is transparent in the mask alone.
        if (!anyAlpha) {
            for (int y = 0; y < height; ++y) {
                auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
                const uchar* mask =
                    bytes + pixels + rowBytes * height + qsizetype(height - 1 - y) * maskRowBytes;
                for (int x = 0; x < width; ++x) {
                    const bool transparent = hasMask && (mask[x / 8] & (0x80 >> (x % 8)));
                    line[x] = transparent ? 0 : (line[x] | 0xff000000u);
                }
            }
        }
        images.append(image);
    }
    return images;
}

QIcon NamingSmallSizes(const QIcon& all) {
    if (all.isNull())
        return all;
    return QIcon(new TSmallSizesEngine(all));
}

} // namespace zkApplicationIcon
