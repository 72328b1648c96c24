#include "zkBrokerMessages.h"

#include "platform/zkOutsideText.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace zkBroker {

namespace {

const QString InboxName = QStringLiteral("Inbox");

// A character a name may not hold: it would not show, or would change how the rest shows.
bool Unfit(char32_t code) {
    const QChar::Category category = QChar::category(code);
    return category == QChar::Other_Control || category == QChar::Other_Surrogate ||
           zkOutsideText::IsHiddenInName(code);
}

// At most maxChars code points of text, never half a surrogate pair.
QString FirstCodePoints(const QString& text, qsizetype maxChars) {
    qsizetype i = 0;
    for (qsizetype n = 0; i < text.size() && n < maxChars; ++n)
        i += text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()
                 ? 2
                 : 1;
    return text.left(i);
}

qsizetype CodePointCount(const QString& text) {
    return QStringView(text).toUcs4().size();
}

} // namespace

QString StrategyFromTopic(const QString& topic) {
    const QString level = topic.section(QLatin1Char('/'), -1).trimmed();
    // "*" would reach every inbox window: a topic level is a name, never that.
    if (level.isEmpty() || level == QLatin1String("*") ||
        CodePointCount(level) > zkInbox::MaxStrategyChars)
        return QString();
    // A level the inbox would refuse as a name (a control, a character that does not show)
    // gives no strategy.
    if (!zkOutsideText::NameProblem(level).isEmpty())
        return QString();
    return level;
}

TReceived ReadMessage(const QString& topic, const QByteArray& payload,
                      const QByteArray& contentType, const QString& deskId) {
    TReceived received;
    if (payload.size() > MaxPayloadBytes) {
        received.Parsed.Error.Kind = TInboxError::TKind::TooLarge;
        received.Parsed.Error.Message =
            QStringLiteral("the message is larger than %1 bytes").arg(MaxPayloadBytes);
        return received;
    }
    // Cheap first: most messages are not ours and do not hold the id at all.
    if (!deskId.isEmpty() && payload.contains(deskId.toUtf8())) {
        const QJsonDocument document = QJsonDocument::fromJson(payload);
        if (document.isObject() &&
            document.object().value(QLatin1String("desk")).toString() == deskId) {
            received.OwnMessage = true;
            return received;
        }
    }
    TInboxDefaults defaults;
    defaults.Origin = QStringLiteral("topic");
    if (const QString strategy = StrategyFromTopic(topic); !strategy.isEmpty())
        defaults.Strategy = strategy;
    received.Parsed = zkInbox::ParseInboxMessage(payload, contentType, defaults);
    for (TInboxAlert& alert : received.Parsed.Alerts)
        alert.FromBroker = true;
    return received;
}

QString PublishedStrategy(const QString& windowName) {
    QString name = windowName.trimmed();
    for (QChar& c : name)
        if (c == QLatin1Char('/') || c == QLatin1Char('+') || c == QLatin1Char('#'))
            c = QLatin1Char('_');
    if (name.isEmpty() || name == QLatin1String("*"))
        return InboxName;
    return FirstCodePoints(name, zkInbox::MaxStrategyChars).trimmed();
}

QString PublishTopic(const QString& windowName) {
    return PublishTopicRoot() + QLatin1Char('/') + PublishedStrategy(windowName);
}

QByteArray PublishPayload(const QString& windowName, const TPublishedAlert& alert,
                          const QString& deskId) {
    QJsonObject object;
    object.insert(QLatin1String("symbol"), alert.Symbol);
    // No price (the windows hold 0 for none) is left out, so that no reader shows 0; readers,
    // ours included, take a missing price as none.
    if (std::isfinite(alert.Price) && alert.Price != 0)
        object.insert(QLatin1String("price"), alert.Price);
    object.insert(QLatin1String("description"), alert.Description);
    object.insert(QLatin1String("strategy"), PublishedStrategy(windowName));
    object.insert(QLatin1String("time"), alert.Time.toUTC().toString(Qt::ISODateWithMs));
    object.insert(QLatin1String("desk"), deskId);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QString LinkTopicRoot(const QString& deskName) {
    return QStringLiteral("velquist/desk/") + deskName + QStringLiteral("/link");
}

QString LinkTopicFilter(const QString& deskName) {
    if (deskName.isEmpty() || deskName.contains(QLatin1Char('/')) ||
        deskName.contains(QLatin1Char('+')) || deskName.contains(QLatin1Char('#')) ||
        deskName.contains(QChar(0)))
        return QString();
    return LinkTopicRoot(deskName) + QStringLiteral("/+");
}

TLinkRead ReadLinkMessage(const QString& topic, const QByteArray& payload) {
    TLinkRead read;
    if (payload.size() > MaxLinkPayloadBytes) {
        read.Problem = QStringLiteral("a symbol sent to this desk is larger than %1 bytes")
                           .arg(MaxLinkPayloadBytes);
        return read;
    }
    const QString list = topic.section(QLatin1Char('/'), -1).trimmed();
    if (CodePointCount(list) > MaxLinkListChars || !zkOutsideText::NameProblem(list).isEmpty()) {
        read.Problem = QStringLiteral("the link list named in the topic is not a list name");
        return read;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(payload, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        read.Problem = QStringLiteral("a symbol sent to this desk is not a JSON object");
        return read;
    }
    const QJsonValue value = document.object().value(QLatin1String("symbol"));
    if (!value.isString()) {
        read.Problem = QStringLiteral("a symbol sent to this desk has no \"symbol\" text");
        return read;
    }
    // The same rule as an alert's symbol: only what an alert could hand the linked programs.
    const QString symbol = value.toString().trimmed();
    if (symbol.isEmpty() || CodePointCount(symbol) > zkInbox::MaxSymbolChars ||
        !zkOutsideText::NameProblem(symbol).isEmpty()) {
        read.Problem = QStringLiteral("a symbol sent to this desk is empty, longer than %1 "
                                      "characters or holds a character a symbol may not")
                           .arg(zkInbox::MaxSymbolChars);
        return read;
    }
    read.Request = TLinkRequest{list, symbol};
    return read;
}

QString PrintableText(const QString& text, qsizetype maxChars) {
    QString shown;
    const QList<uint> codes = QStringView(text).toUcs4();
    for (qsizetype i = 0; i < codes.size() && i < maxChars; ++i) {
        const char32_t code = codes[i];
        if (Unfit(code))
            shown += QLatin1Char('?');
        else
            shown += QString::fromUcs4(&code, 1);
    }
    if (codes.size() > maxChars)
        shown += QStringLiteral("...");
    return shown;
}

} // namespace zkBroker
