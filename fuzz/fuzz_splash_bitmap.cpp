// "splash.bmp" as a user may replace it: a damaged, truncated or hostile file loads as a
// picture or as nothing, never fails, and the shape cut from a picture lies inside it.
#include "shell/zkSplashForm.h"
#include "zkFuzzCheck.h"

#include <QDir>
#include <QFile>

#include <cstdint>
#include <cstdlib>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1024 * 1024)
        return 0;
    static const QString path =
        QDir::tempPath() + QStringLiteral("/fuzz-splash-%1.bmp").arg(::getpid());
    {
        QFile file(path);
        Check(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        Check(file.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size));
    }
    const QImage picture = LoadSplashBitmap(path);
    if (picture.isNull())
        return 0;
    // Pictures past a few megapixels take long to walk and say nothing new.
    if (qint64(picture.width()) * picture.height() > 4 * 1024 * 1024)
        return 0;
    const QRect bounds(QPoint(0, 0), picture.size());
    for (const QRect& run : BitmapRowRuns(picture, qRgb(255, 255, 255), 0, 0))
        Check(bounds.contains(run) && run.height() == 1);
    Check(bounds.contains(RegionFromBitmap(picture, clWhite, 0, 0).boundingRect()) ||
          RegionFromBitmap(picture, clWhite, 0, 0).isEmpty());
    const QImage cut = CutOutPicture(picture, qRgb(255, 255, 255));
    Check(cut.size() == picture.size());
    return 0;
}
