#pragma once

// Alerts that the user's own programs post to the client (docs/alert-sources.md), and the reader
// of what they post. A request is taken whole or not at all: one bad item refuses it, so a
// sender never has to guess which of its alerts arrived.

#include "desk/zkAlertSink.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// What the reader makes of a message is what every source offers the router.
using TInboxAlert = TSourceAlert;

struct TInboxError {
    enum class TKind { None, BadInput, TooLarge };
    TKind Kind = TKind::None;
    QString Message; // English, names the first bad item; never quotes the sender's text
};

struct TInboxParseResult {
    QList<TInboxAlert> Alerts;
    TInboxError Error;
    bool Ok() const { return Error.Kind == TInboxError::TKind::None; }
};

// What a message leaves to where it came from: the webhook's query, a broker's topic. Both are
// names like those in a message and are checked as such; a bad one refuses the message, and the
// error begins with Origin ("query: ...").
struct TInboxDefaults {
    std::optional<QString> Symbol;   // of a text message; none: its first word, if a symbol
    std::optional<QString> Strategy; // of the alerts that name none; none: DefaultStrategy()
    QString Origin = QStringLiteral("query");
};

namespace zkInbox {

constexpr qsizetype MaxAlertsPerRequest = 10000;
// Characters (code points): a character outside the Basic Multilingual Plane counts once.
constexpr qsizetype MaxSymbolChars = 64;
constexpr qsizetype MaxStrategyChars = 64;
constexpr qsizetype MaxDescriptionBytes = 4096;
constexpr double MaxPrice = 1e12;
inline QString DefaultStrategy() {
    return QStringLiteral("Inbox");
}

// Reads one message (a webhook's body, a socket's line, a broker's payload). It is a JSON
// object, a JSON array of objects, JSON lines (one object a line, blank lines skipped),
// application/x-www-form-urlencoded fields (when a field has an alert field's name), or else
// text: one alert whose description is the text, whose symbol is defaults.Symbol or the text's
// first word when that is written as a symbol ("NASDAQ:AAPL" gives "AAPL"). A UTF-8 byte-order
// mark before it is dropped. Any content type may carry JSON or text, but what is labelled JSON
// and begins with a bracket is read as JSON only. A blank message is no alert. Either every
// alert comes back, or none with the error.
TInboxParseResult ParseInboxMessage(const QByteArray& body, const QByteArray& contentType,
                                    const TInboxDefaults& defaults);

// Reads a webhook request: body with its Content-Type and the raw (still percent-encoded) query
// of the address. An empty body takes the alert from the query; with a body, the query's
// "strategy" and "symbol" are its defaults (ParseInboxMessage).
TInboxParseResult ParseInboxBody(const QByteArray& body, const QByteArray& contentType,
                                 const QByteArray& query);

// Offset of the first byte that is not part of well-formed UTF-8 (overlong forms and
// surrogates count as malformed), or -1.
qsizetype InvalidUtf8At(const QByteArray& bytes);

} // namespace zkInbox
