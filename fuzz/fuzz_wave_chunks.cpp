// The wave-file chunk walker that refuses cut-short files before the decoder sees them: it
// never fails or runs away on any bytes, passes only files that say "WAVE", and keeps passing a
// file when more bytes follow it.
#include "alerts/zkSoundPlayer.h"
#include "zkFuzzCheck.h"

#include <QBuffer>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 64 * 1024)
        return 0;
    QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    QBuffer file(&bytes);
    Check(file.open(QIODevice::ReadOnly));
    const bool passes = WaveLooksComplete(file);
    if (passes)
        Check(bytes.size() >= 12 && bytes.mid(8, 4) == "WAVE");
    // What follows the data chunk does not matter: a file that passes still passes with more
    // bytes after it (a walker that judged by the end of the file would not).
    if (passes) {
        QByteArray longer = bytes + QByteArray(64, 'x');
        QBuffer more(&longer);
        Check(more.open(QIODevice::ReadOnly) && WaveLooksComplete(more));
    }
    return 0;
}
