// Feed files for the simulated alert service, one JSON object a line: parsing never fails, a
// line is either taken or reported, times never run backwards or wrap, and every alert taken
// has a symbol.
#include "components/zkSimService.h"
#include "zkFuzzCheck.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 256 * 1024)
        return 0;
    const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));
    QStringList problems;
    const TSimFeed feed = ParseSimFeed(text, &problems);
    qsizetype lines = 0;
    for (const QByteArray& line : text.split('\n'))
        lines += !line.trimmed().isEmpty();
    Check(qsizetype(feed.Lines.size()) + problems.size() == lines);
    qint64 at = 0;
    for (const TSimFeedLine& line : feed.Lines) {
        Check(line.AtMs >= at && line.AtMs - at <= MaxFeedDelayMs);
        at = line.AtMs;
        Check(!line.Symbol.isEmpty() && line.Symbol == line.Symbol.trimmed());
        Check(line.Strategy != QLatin1String("*"));
    }
    return 0;
}
