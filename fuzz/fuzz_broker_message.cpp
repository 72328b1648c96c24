// Messages from an MQTT broker: the first byte says how many of the following bytes are the
// topic, the rest is the payload. Properties: reading never fails; a message gives alerts or an
// error, never both, and every alert is marked as the broker's; a topic's strategy is empty or
// a name the inbox takes (at most 64 characters, none of them invisible or a control, never
// "*"); a window's name as a topic level is never empty, "*", or holding "/", "+" or "#", and
// what this desk publishes reads back as its own message.
#include "broker/zkBrokerMessages.h"
#include "zkFuzzCheck.h"

#include <cstdint>

namespace {

bool FitName(const QString& name) {
    const QList<uint> codes = QStringView(name).toUcs4();
    if (codes.isEmpty() || codes.size() > zkInbox::MaxStrategyChars || name == QLatin1String("*"))
        return false;
    for (const uint code : codes) {
        const QChar::Category category = QChar::category(char32_t(code));
        if (category == QChar::Other_Control || category == QChar::Other_Format ||
            category == QChar::Other_Surrogate || category == QChar::Separator_Line ||
            category == QChar::Separator_Paragraph)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const size_t topicBytes = std::min<size_t>(data[0], size - 1);
    const QString topic =
        QString::fromUtf8(reinterpret_cast<const char*>(data + 1), qsizetype(topicBytes));
    const QByteArray payload(reinterpret_cast<const char*>(data + 1 + topicBytes),
                             qsizetype(size - 1 - topicBytes));

    const QString strategy = zkBroker::StrategyFromTopic(topic);
    Check(strategy.isEmpty() || FitName(strategy));

    const zkBroker::TReceived received = zkBroker::ReadMessage(topic, payload, {}, "velquist-f");
    Check(!received.OwnMessage || received.Parsed.Alerts.isEmpty());
    Check(received.Parsed.Ok() || received.Parsed.Alerts.isEmpty());
    for (const TInboxAlert& alert : received.Parsed.Alerts)
        Check(alert.FromBroker && !alert.Symbol.isEmpty() && !alert.Strategy.isEmpty());

    // The topic's text as a window name.
    const QString level = zkBroker::PublishedStrategy(topic);
    Check(!level.isEmpty() && level != QLatin1String("*") && !level.contains(u'/') &&
          !level.contains(u'+') && !level.contains(u'#') &&
          QStringView(level).toUcs4().size() <= zkInbox::MaxStrategyChars);
    zkBroker::TPublishedAlert alert;
    alert.Symbol = QStringLiteral("X");
    alert.Description = QString::fromUtf8(payload.left(200));
    alert.Time = QDateTime::fromSecsSinceEpoch(0, Qt::UTC);
    const QByteArray published = zkBroker::PublishPayload(topic, alert, "velquist-f");
    Check(zkBroker::ReadMessage(zkBroker::PublishTopic(topic), published, {}, "velquist-f")
              .OwnMessage);
    return 0;
}
