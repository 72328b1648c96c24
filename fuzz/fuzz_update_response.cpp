// The update address's answer comes from the network: whatever it holds, reading it must not
// crash, and an offer of a newer build must always name a web page (never a file, a program
// or a script), with the first line's number really above ours.
#include "updates/zkUpdateCheck.h"
#include "zkFuzzCheck.h"

#include <QUrl>

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The component hands over UTF-8, or Latin-1 when the body is not valid UTF-8; both here.
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const QString& response : {QString::fromUtf8(bytes), QString::fromLatin1(bytes)}) {
        const TUpdateResponse parsed = ParseUpdateResponse(response);
        if (!parsed.Page.isEmpty()) {
            Check(parsed.Page.front().unicode() > 0x20);
            Check(parsed.Page.back().unicode() > 0x20);
        }
        for (const char* ours : {"0", "1250", "-2147483648", "$7FFFFFFF", ""}) {
            QString page;
            if (!OffersNewerBuild(response, QString::fromLatin1(ours), &page))
                continue;
            Check(parsed.BuildValid);
            int32_t current = 0;
            Check(TryParseIntegerText(QString::fromLatin1(ours), current));
            Check(parsed.Build > current);
            Check(page == parsed.Page);
            const QUrl url(page, QUrl::StrictMode);
            const QString scheme = url.scheme().toLower();
            Check(scheme == QLatin1String("http") || scheme == QLatin1String("https"));
            Check(!url.host().isEmpty() && !url.isLocalFile());
        }
    }

    // Stored schedule times are untrusted too: any double gives a time of day.
    if (size >= sizeof(double)) {
        double stored = 0;
        std::memcpy(&stored, data, sizeof stored);
        const int64_t ms = TimeOfDayMs(stored);
        Check(ms >= 0 && ms < 86400000);
    }
    if (size >= sizeof(int32_t)) {
        int32_t offset = 0;
        std::memcpy(&offset, data, sizeof offset);
        const int64_t start = NewYorkMidnightMs(offset % (24 * 60));
        Check(start >= 0 && start < 2 * 86400000LL);
    }
    return 0;
}
