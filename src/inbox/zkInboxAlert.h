#pragma once

// Alerts that the user's own programs post to the client (docs/alert-inbox.md), and the reader
// of what they post. A request is taken whole or not at all: one bad item refuses it, so a
// sender never has to guess which of its alerts arrived.

#include <QByteArray>
#include <QList>
#include <QString>

struct TInboxAlert {
    QString Symbol;
    double Price = 0;
    bool HasPrice = false;
    QString Description;
    QString Strategy = QStringLiteral("Inbox"); // "*": every inbox window
    bool Skip = false;
    bool FromBroker = false; // came from a message broker rather than the user's programs
};

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

// Reads a request: body with its Content-Type and the raw (still percent-encoded) query of
// the address. The body is a JSON object, a JSON array of objects, JSON lines (one object a
// line, blank lines skipped) or application/x-www-form-urlencoded fields; an empty body takes
// the alert from the query. With a body, a "strategy" in the query is the default strategy of
// the items that name none. Either every alert comes back, or none with the error.
TInboxParseResult ParseInboxBody(const QByteArray& body, const QByteArray& contentType,
                                 const QByteArray& query);

// Offset of the first byte that is not part of well-formed UTF-8 (overlong forms and
// surrogates count as malformed), or -1.
qsizetype InvalidUtf8At(const QByteArray& bytes);

} // namespace zkInbox
