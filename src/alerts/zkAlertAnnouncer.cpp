#include "zkAlertAnnouncer.h"

#include "components/zkComponents.h"
#include "config/zkSettings.h"
#include "desktop/zkAccessibility.h"
#include "platform/zkOutsideText.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QSet>
#include <QTimer>

#include <chrono>

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

// The one line of every window's waiting alerts: gathered for a moment, said no more often than
// the gap allows, and held while the user is in a menu or dialog.
class TAnnouncementLine : public QObject {
public:
    static TAnnouncementLine& Instance() {
        // Parented to the application, so it goes before Qt's statics do.
        if (!Current())
            Current() = new TAnnouncementLine(qApp);
        return *Current();
    }
    // The line, when there is one (none before the first alert and once the application went).
    static QPointer<TAnnouncementLine>& Current() {
        static QPointer<TAnnouncementLine> line;
        return line;
    }

    // Called for every alert of every window: nothing here may go through all the windows or
    // all the application's timers (QTimer::remainingTime does), or a desk of thousands of
    // windows pays for each alert thousands of times over.
    void Arrived(TAlertAnnouncer* window) {
        if (!Listed.contains(window)) {
            Listed.insert(window);
            Waiting.append(window);
        }
        qint64 wait = TAlertAnnouncer::GatherMs;
        if (SinceLast.isValid())
            wait = std::max<qint64>(wait, TAlertAnnouncer::MinGapMs - SinceLast.elapsed());
        // A window whose summary is not due yet does not hold back the others, nor the others
        // it: the timer runs to whichever comes first.
        wait = std::max(wait, window->DueInMs(TAlertAnnouncer::Clock()()));
        if (!Timer.isActive() || wait < Due.remainingTime())
            Start(wait);
    }
    void Leave(TAlertAnnouncer* window) {
        if (Listed.remove(window))
            Waiting.removeAll(window);
    }

    // Says the line; unless forced, not while the user is in a menu or dialog.
    void Say(bool force) {
        Timer.stop();
        Waiting.removeIf([](const QPointer<TAlertAnnouncer>& window) { return window.isNull(); });
        if (Waiting.isEmpty()) {
            Listed.clear();
            return;
        }
        if (!force && UserIsBusy()) {
            Start(TAlertAnnouncer::HeldRetryMs);
            return;
        }
        const qint64 now = TAlertAnnouncer::Clock()();
        QStringList parts;
        TAlertAnnouncer* source = nullptr;
        // Summaries not due yet stay for a later line.
        QList<QPointer<TAlertAnnouncer>> later;
        qint64 nextDue = -1;
        for (const QPointer<TAlertAnnouncer>& window : std::as_const(Waiting)) {
            if (!window->HasWaiting())
                continue;
            if (const qint64 due = window->DueInMs(now); due > 0) {
                later.append(window);
                nextDue = nextDue < 0 ? due : std::min(nextDue, due);
                continue;
            }
            parts << window->TakeWaiting(now);
            if (!source)
                source = window;
        }
        Waiting = later;
        Listed.clear();
        for (const QPointer<TAlertAnnouncer>& window : std::as_const(Waiting))
            Listed.insert(window.data());
        if (!parts.isEmpty()) {
            Last = parts.join(QStringLiteral("; "));
            ++Count;
            SinceLast.start();
            // Polite: said once the reader has finished, never cutting it off.
            zkAccessibility::Announce(source, Last, zkAccessibility::TPoliteness::Polite);
        }
        if (nextDue >= 0)
            Start(parts.isEmpty() ? nextDue : std::max<qint64>(nextDue, TAlertAnnouncer::MinGapMs));
    }

    QString Last;
    int Count = 0;

private:
    explicit TAnnouncementLine(QObject* parent) : QObject(parent) {
        Timer.setSingleShot(true);
        connect(&Timer, &QTimer::timeout, this, [this] { Say(false); });
    }

    // An open menu or a dialog the user works in is not interrupted; the line waits.
    static bool UserIsBusy() {
        if (QApplication::activePopupWidget() || QApplication::activeModalWidget())
            return true;
        return qobject_cast<QDialog*>(QApplication::activeWindow()) != nullptr;
    }

    void Start(qint64 ms) {
        Timer.start(int(ms));
        Due.setRemainingTime(ms);
    }

    QTimer Timer;
    // When Timer fires, kept beside it.
    QDeadlineTimer Due;
    QElapsedTimer SinceLast;
    // The windows with something to say, in the order they came, and the same as a set. A
    // window leaves the set only here or in Leave (its destructor), so a pointer in it is live.
    QList<QPointer<TAlertAnnouncer>> Waiting;
    QSet<const TAlertAnnouncer*> Listed;
};

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
}

TAlertAnnouncer::~TAlertAnnouncer() {
    if (TAnnouncementLine* line = TAnnouncementLine::Current())
        line->Leave(this);
}

QString TAlertAnnouncer::Text() const {
    return Label->text();
}

void TAlertAnnouncer::SetMode(TAnnounceMode mode) {
    AnnounceMode = mode;
    Waiting = 0;
    Summary.Drop();
}

bool TAlertAnnouncer::HasWaiting() const {
    return AnnounceMode == TAnnounceMode::Summary ? Summary.Waiting() > 0 : Waiting > 0;
}

qint64 TAlertAnnouncer::DueInMs(qint64 nowMs) const {
    return AnnounceMode == TAnnounceMode::Summary ? Summary.DueInMs(nowMs) : 0;
}

std::function<qint64()>& TAlertAnnouncer::Clock() {
    static std::function<qint64()> clock = [] {
        return qint64(std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count());
    };
    return clock;
}

void TAlertAnnouncer::AlertArrived(const QString& windowName, const IAlertData& alert) {
    if (!AnnouncementsOn || AnnounceMode == TAnnounceMode::Off)
        return;
    if (AnnounceMode == TAnnounceMode::Summary) {
        WindowName = windowName;
        Summary.Arrived(alert.AlertSymbol());
        TAnnouncementLine::Instance().Arrived(this);
        return;
    }
    if (Waiting == 0) {
        FirstText = AlertText(windowName, alert);
        FirstSymbol = alert.AlertSymbol();
        WindowName = windowName;
    }
    ++Waiting;
    TAnnouncementLine::Instance().Arrived(this);
}

void TAlertAnnouncer::Flush() {
    TAnnouncementLine::Instance().Say(true);
}

QString TAlertAnnouncer::LastLine() {
    return TAnnouncementLine::Instance().Last;
}

int TAlertAnnouncer::Lines() {
    return TAnnouncementLine::Instance().Count;
}

QString TAlertAnnouncer::TakeWaiting(qint64 nowMs) {
    QString text;
    if (AnnounceMode == TAnnounceMode::Summary)
        text = Summary.Take(WindowName, nowMs);
    else
        text = Waiting == 1 ? FirstText : BurstText(WindowName, FirstSymbol, Waiting);
    Waiting = 0;
    ++Count;
    // The window's own part, for a reader that looks at the notification; its name changes only
    // when the text does.
    Label->setText(text);
    zkAccessibility::SetText(this, text);
    lower(); // below whatever the window put over its client area since
    return text;
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

void TAlertSummary::Arrived(const QString& symbol) {
    ++Count;
    Newest = symbol;
}

qint64 TAlertSummary::DueInMs(qint64 nowMs) const {
    return Said ? std::max<qint64>(0, SaidMs + GapMs - nowMs) : 0;
}

QString TAlertSummary::Take(const QString& windowName, qint64 nowMs) {
    const QString text = Text(windowName, Count, Newest);
    Count = 0;
    Said = true;
    SaidMs = nowMs;
    return text;
}

QString TAlertSummary::Text(const QString& windowName, int count, const QString& newest) {
    const QString window = OneLine(windowName, TAlertAnnouncer::MaxWindowChars);
    const QString symbol = OneLine(newest, TAlertAnnouncer::MaxSymbolChars);
    if (count == 1)
        return TAlertAnnouncer::tr("New alert in %1: %2").arg(window, symbol);
    return TAlertAnnouncer::tr("%n new alerts in %1, newest %2", nullptr, count)
        .arg(window, symbol);
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
