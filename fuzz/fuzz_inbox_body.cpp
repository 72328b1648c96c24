// Bodies posted to the alert inbox, and messages with another source's defaults. The first byte
// picks the Content-Type and the reader (a webhook's body and query, or a message whose default
// strategy is the "query" bytes as a broker's topic level), the second how many of the following
// bytes are the query. Properties: reading never fails; a request gives alerts or an error, never
// both; every alert taken keeps within the field limits, and no text taken holds a character
// that is not shown but changes what is (a format character, a line or paragraph separator) or
// a lone surrogate; a byte-order mark before the body changes none of the alerts.
#include "inbox/zkInboxAlert.h"
#include "zkFuzzCheck.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>

namespace {

bool HasControl(const QString& text, bool tabAllowed) {
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && !(tabAllowed && u == '\t')) || (u >= 0x7f && u <= 0x9f))
            return true;
    }
    return false;
}

// Code points; false when a lone surrogate or an invisible formatting character is in the text.
bool CleanCodePoints(const QString& text, qsizetype& count) {
    count = 0;
    for (qsizetype i = 0; i < text.size(); ++count) {
        char32_t code = text[i].unicode();
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            code = QChar::surrogateToUcs4(text[i], text[i + 1]);
            i += 2;
        } else {
            ++i;
        }
        const QChar::Category category = QChar::category(code);
        if (QChar::isSurrogate(code) || category == QChar::Other_Format ||
            category == QChar::Separator_Line || category == QChar::Separator_Paragraph)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > 1100 * 1024)
        return 0;
    static const char* const types[] = {"application/json",
                                        "application/x-www-form-urlencoded",
                                        "application/x-ndjson",
                                        "text/plain",
                                        "",
                                        "text/plain; charset=utf-8",
                                        "application/vnd.alert+json"};
    constexpr int typeCount = int(std::size(types));
    const QByteArray type = types[data[0] % typeCount];
    const bool asMessage = (data[0] / typeCount) % 2 == 1;
    const size_t queryBytes = std::min<size_t>(data[1], size - 2);
    const QByteArray query(reinterpret_cast<const char*>(data + 2), qsizetype(queryBytes));
    const QByteArray body(reinterpret_cast<const char*>(data + 2 + queryBytes),
                          qsizetype(size - 2 - queryBytes));
    const auto read = [&](const QByteArray& content) {
        if (!asMessage)
            return zkInbox::ParseInboxBody(content, type, query);
        TInboxDefaults topic;
        topic.Strategy = QString::fromUtf8(query);
        topic.Origin = QStringLiteral("topic");
        return zkInbox::ParseInboxMessage(content, type, topic);
    };
    const TInboxParseResult r = read(body);
    if (!body.startsWith("\xEF\xBB\xBF")) {
        const TInboxParseResult marked = read("\xEF\xBB\xBF" + body);
        Check(marked.Ok() == r.Ok() && marked.Alerts.size() == r.Alerts.size());
        for (qsizetype i = 0; i < r.Alerts.size(); ++i) {
            const TInboxAlert &a = r.Alerts[i], &b = marked.Alerts[i];
            Check(a.Symbol == b.Symbol && a.Strategy == b.Strategy &&
                  a.Description == b.Description && a.HasPrice == b.HasPrice && a.Skip == b.Skip &&
                  a.Price == b.Price);
        }
    }
    if (!r.Ok()) {
        Check(r.Alerts.isEmpty() && !r.Error.Message.isEmpty());
        return 0;
    }
    Check(!r.Alerts.isEmpty() && r.Alerts.size() <= zkInbox::MaxAlertsPerRequest);
    for (const TInboxAlert& a : r.Alerts) {
        Check(!a.Symbol.isEmpty() && a.Symbol == a.Symbol.trimmed());
        qsizetype chars = 0;
        Check(CleanCodePoints(a.Symbol, chars) && chars <= zkInbox::MaxSymbolChars &&
              !HasControl(a.Symbol, false));
        Check(!a.Strategy.isEmpty() && CleanCodePoints(a.Strategy, chars) &&
              chars <= zkInbox::MaxStrategyChars && !HasControl(a.Strategy, false));
        Check(a.Description.toUtf8().size() <= zkInbox::MaxDescriptionBytes &&
              !HasControl(a.Description, true) && CleanCodePoints(a.Description, chars));
        Check(std::isfinite(a.Price) && a.Price >= 0 && a.Price <= zkInbox::MaxPrice);
        Check(a.HasPrice || a.Price == 0);
    }
    return 0;
}
