#include "zkAlertAnnouncer.h"

#include "components/zkComponents.h"
#include "config/zkSettings.h"
#include "platform/zkAccessibility.h"
#include "platform/zkOutsideText.h"

#include <QLabel>

namespace {

bool AnnouncementsOn = true;
const QString AnnounceAlertsName = QStringLiteral("AnnounceAlerts");

// Outside text as one line of at most max characters: control characters and line breaks
// become blanks, runs of blanks one, and a cut ends with an ellipsis.
QString OneLine(const QString& text, int max) {
    QString line = text;
    for (QChar& c : line)
        if (c.category() == QChar::Other_Control || c.category() == QChar::Separator_Line ||
            c.category() == QChar::Separator_Paragraph)
            c = QLatin1Char(' ');
    return zkOutsideText::Shortened(line.simplified(), max);
}

} // namespace

TAlertAnnouncer::TAlertAnnouncer(QWidget* window) : QWidget(window) {
    setObjectName(QStringLiteral("AlertAnnouncer"));
    zkAccessibility::SetRole(this, QAccessible::Notification);
    Label = new QLabel(this);
    Label->setObjectName(QStringLiteral("AlertAnnouncerLabel"));
    Label->setTextFormat(Qt::PlainText);
    // Out of sight under the window's list, but shown: screen readers read only shown labels.
    setGeometry(0, 0, 1, 1);
    Label->setGeometry(0, 0, 1, 1);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    lower();
    Timer.setSingleShot(true);
    connect(&Timer, &QTimer::timeout, this, &TAlertAnnouncer::Flush);
}

QString TAlertAnnouncer::Text() const {
    return Label->text();
}

void TAlertAnnouncer::AlertArrived(const QString& windowName, const IAlertData& alert) {
    if (!AnnouncementsOn)
        return;
    if (Waiting == 0) {
        FirstText = AlertText(windowName, alert);
        FirstSymbol = alert.AlertSymbol();
        WindowName = windowName;
        qint64 wait = GatherMs;
        if (SinceLast.isValid())
            wait = std::max<qint64>(wait, MinGapMs - SinceLast.elapsed());
        Timer.start(int(wait));
    }
    ++Waiting;
}

void TAlertAnnouncer::Flush() {
    Timer.stop();
    if (Waiting == 0)
        return;
    const QString text = Waiting == 1 ? FirstText : BurstText(WindowName, FirstSymbol, Waiting);
    Waiting = 0;
    ++Count;
    SinceLast.start();
    // An alert like the last one must be said again: the label changes through an empty text
    // (the name, unchanged, is left alone), and the notification reports itself shown each
    // time, which is what has it said.
    if (Label->text() == text)
        Label->clear();
    Label->setText(text);
    zkAccessibility::SetText(this, text);
    lower(); // below whatever the window put over its client area since
    zkAccessibility::ReportShown(this);
}

QString TAlertAnnouncer::AlertText(const QString& windowName, const IAlertData& alert) {
    QStringList parts;
    parts << OneLine(alert.AlertSymbol(), MaxSymbolChars);
    // As the list shows it; an alert without a price has none to say.
    if (alert.Price() > 0)
        parts << QString::number(alert.Price(), 'f', 2);
    const QString description = OneLine(alert.Description(), MaxDescriptionChars);
    if (!description.isEmpty())
        parts << description;
    parts << tr("in %1").arg(OneLine(windowName, MaxWindowChars));
    return parts.join(QStringLiteral(", "));
}

QString TAlertAnnouncer::BurstText(const QString& windowName, const QString& firstSymbol,
                                   int count) {
    return tr("%1 and %n more in %2", nullptr, count - 1)
        .arg(OneLine(firstSymbol, MaxSymbolChars), OneLine(windowName, MaxWindowChars));
}

bool AlertAnnouncementsEnabled() {
    return AnnouncementsOn;
}

void SetAlertAnnouncementsEnabled(bool enabled) {
    AnnouncementsOn = enabled;
}

bool ReadAnnounceAlerts(const TSettingsStore& store) {
    return ReadBoolValue(store, SettingsValuesPath(), AnnounceAlertsName, true);
}

void WriteAnnounceAlerts(const TSettingsStore& store, bool enabled) {
    WriteBoolValue(store, SettingsValuesPath(), AnnounceAlertsName, enabled);
}
