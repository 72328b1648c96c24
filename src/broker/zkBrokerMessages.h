#pragma once

// What goes over the broker, as pure functions: a received message read into alerts (the
// payload as the HTTP inbox reads a request's body), and an alert of ours as a topic and a
// payload. No network here.

#include "inbox/zkInboxAlert.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

namespace zkBroker {

// Where published alerts go: PublishTopicRoot() + "/" + the window's name.
inline QString PublishTopicRoot() {
    return QStringLiteral("velquist/alerts");
}
inline QString DefaultTopicFilter() {
    return PublishTopicRoot() + QStringLiteral("/#");
}
// A message larger than this is skipped (the HTTP inbox takes bodies up to the same size).
constexpr qsizetype MaxPayloadBytes = 1024 * 1024;

struct TReceived {
    TInboxParseResult Parsed; // every alert marked FromBroker, or the error
    bool OwnMessage = false;  // published by this desk: nothing to show
};

// The strategy a message's topic gives its alerts that name none: the topic's last level, when
// it can be a window's name; empty when it cannot (then the inbox's default applies).
QString StrategyFromTopic(const QString& topic);

// Reads one message. contentType is the message's own (MQTT 5), empty when it has none.
// deskId is this desk's id: a message carrying it as "desk" is this desk's own.
TReceived ReadMessage(const QString& topic, const QByteArray& payload,
                      const QByteArray& contentType, const QString& deskId);

// The window name as a topic level and as a strategy: no "/", "+" or "#" (they would make
// more levels or a wildcard of it), "*" and an empty name become "Inbox", and at most
// zkInbox::MaxStrategyChars characters, so that every desk can take it back.
QString PublishedStrategy(const QString& windowName);
QString PublishTopic(const QString& windowName);

struct TPublishedAlert {
    QString Symbol;
    double Price = 0;
    QString Description;
    QDateTime Time; // UTC
};
// The JSON object another desk (or any MQTT program) reads: symbol, price (left out when there
// is none: 0 or not a number), description, strategy, time (ISO 8601, UTC, milliseconds) and
// desk.
QByteArray PublishPayload(const QString& windowName, const TPublishedAlert& alert,
                          const QString& deskId);

// --- symbols sent to this desk ---
// Another device of the user's (the web page on a phone) sends a symbol for the programs linked
// to one of the desk's link lists: {"symbol":"AAPL"} to LinkTopicRoot(desk) + "/" + the list.

// "velquist/desk/<desk>/link"; the desk is named by its client id.
QString LinkTopicRoot(const QString& deskName);
// What the desk subscribes to: every list's level under LinkTopicRoot; empty when the name
// cannot be one topic level (it holds "/", "+", "#" or nothing).
QString LinkTopicFilter(const QString& deskName);
// A symbol message larger than this is not read: {"symbol":"..."} needs far less.
constexpr qsizetype MaxLinkPayloadBytes = 1024;
// A list name longer than this (characters) is not one the desk would make.
constexpr qsizetype MaxLinkListChars = 256;

struct TLinkRequest {
    QString ListName;
    QString Symbol;
};
struct TLinkRead {
    std::optional<TLinkRequest> Request;
    QString Problem; // why there is none, for a line on stderr
};
// Reads one message on the desk's link topic: the list is the topic's last level (blank: "MAIN
// LIST" as the linking code takes it, so left empty here), the payload a JSON object whose
// "symbol" is text checked as an alert's symbol is (trimmed, 1 to zkInbox::MaxSymbolChars
// characters, nothing a name may not hold).
TLinkRead ReadLinkMessage(const QString& topic, const QByteArray& payload);

// A topic or other broker text for one line on stderr: control characters as "?", at most
// maxChars characters.
QString PrintableText(const QString& text, qsizetype maxChars = 120);

} // namespace zkBroker
