// The program's icon file as a user may replace it: a damaged, truncated or hostile file gives
// its small bitmap sizes or nothing (Qt then reads it), never fails; each image is one an
// entry of the file names, no larger than asked for.
#include "desktop/zkApplicationIcon.h"
#include "zkFuzzCheck.h"

#include <QByteArray>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1024 * 1024)
        return 0;
    const QByteArray file =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const int limit : {48, 256}) {
        const QList<QImage> images = zkApplicationIcon::SmallBitmapImages(file, limit);
        const qsizetype entries = size >= 6 ? qsizetype(data[4] | data[5] << 8) : 0;
        Check(images.size() <= entries);
        for (const QImage& image : images)
            Check(!image.isNull() && image.width() <= limit && image.height() <= limit &&
                  image.format() == QImage::Format_ARGB32);
    }
    return 0;
}
