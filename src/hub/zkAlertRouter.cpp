#include "zkAlertRouter.h"

#include "alerts/zkAlertDesk.h"
#include "alerts/zkAlertForm.h"
#include "components/zkComponentWrappers.h"
#include "desk/zkAlertLog.h"
#include "hub/zkKeepRuleMatcher.h"
#include "inbox/zkInboxAlert.h"
#include "linking/zkGenericConnectorForm.h"
#include "platform/zkThreadClock.h"

#include <QHash>
#include <QMetaObject>
#include <QPointer>
#include <QSet>
#include <QUrl>

#include <algorithm>
#include <climits>
#include <limits>
#include <memory>
#include <optional>
#include <utility>

QString InboxDataConfig(const QString& strategy) {
    if (strategy == QLatin1String("*"))
        return QStringLiteral("WN=*&Src=inbox");
    return QStringLiteral("WN=") + QString::fromLatin1(QUrl::toPercentEncoding(strategy)) +
           QStringLiteral("&Src=inbox");
}

namespace {

const QString CatchAllName = QStringLiteral("*");
constexpr qint64 MinuteMs = 60 * 1000;
// Alerts routed between two looks at the time a delivery has taken (their rows go in before
// the next look).
constexpr qsizetype SliceAlerts = 256;

// An alert as its window's row and the history keep it, marked with where it came from.
TAlertData RowOf(const TSourceAlert& alert, const QDateTime& time, const QString& description) {
    TAlertData row(alert.Symbol, alert.Skip ? 1 : 0, time, alert.HasPrice ? alert.Price : 0,
                   description);
    row.Origin = alert.FromBroker ? TAlertSource::Broker : TAlertSource::Inbox;
    return row;
}

// The matchers of the windows one offer or delivery reaches, each made once; nullptr for a
// window that keeps everything and emphasises nothing.
class TMatchers {
public:
    const TKeepRuleMatcher* For(TAlertForm* window) {
        auto it = Made.find(window);
        if (it == Made.end()) {
            std::shared_ptr<TKeepRuleMatcher> matcher;
            if (window->KeepRules.AnyKeepingRuleOn() || window->KeepRules.EmphasisOn()) {
                matcher = std::make_shared<TKeepRuleMatcher>(window->KeepRules);
                if (matcher->KeepsAll() && !matcher->EmphasisesAny())
                    matcher.reset();
            }
            it = Made.insert(window, std::move(matcher));
        }
        return it->get();
    }
    // Empty: the window keeps it.
    QString Refusal(TAlertForm* window, const TMatchedAlert& alert) {
        const TKeepRuleMatcher* matcher = For(window);
        return matcher ? matcher->Refusal(alert) : QString();
    }

private:
    QHash<TAlertForm*, std::shared_ptr<TKeepRuleMatcher>> Made;
};

bool AnyWindowHasRules(const QList<QPointer<TAlertForm>>& windows) {
    for (const QPointer<TAlertForm>& w : windows)
        if (w && w->KeepRules.AnyKeepingRuleOn())
            return true;
    return false;
}

} // namespace

TAlertRouter::TAlertRouter(IAlertDesk& desk, QObject* parent) : QObject(parent), Desk(desk) {
    Monotonic.start();
    MonotonicMs = [this] { return Monotonic.elapsed(); };
    SpacingTimer.setSingleShot(true);
    SpacingTimer.setTimerType(Qt::PreciseTimer);
    connect(&SpacingTimer, &QTimer::timeout, this, [this] { Deliver(false); });
}

qint64 TAlertRouter::AlertBytes(const TSourceAlert& alert) {
    // The texts' characters and their headers, as they are held until delivered.
    constexpr qint64 StringHeader = 32;
    return qint64(sizeof(TWaiting)) + 3 * StringHeader +
           qint64(sizeof(char16_t)) *
               (alert.Symbol.size() + alert.Description.size() + alert.Strategy.size());
}

void TAlertRouter::ScheduleFlush() {
    // Once per turn of the event loop, however many requests came in it.
    if (FlushPosted)
        return;
    FlushPosted = true;
    const qint64 waitNs = NextFlushNs - Monotonic.nsecsElapsed();
    if (waitNs <= 0)
        QMetaObject::invokeMethod(
            this, [this] { Deliver(false); }, Qt::QueuedConnection);
    else
        SpacingTimer.start(int((waitNs + 999999) / 1000000));
}

void TAlertRouter::RecordUnrouted(const TSourceAlert& alert, const QDateTime& time) {
    IAlertLog* log = Desk.AlertLog();
    if (!log)
        return;
    // The strategy stands for the window it would have gone to.
    log->RecordAlert(alert.Strategy, RowOf(alert, time, alert.Description));
}

void TAlertRouter::RecordRefused(TAlertForm& window, const TSourceAlert& alert,
                                 const QDateTime& time, const QString& description,
                                 const QString& rule) {
    if (IAlertLog* log = Desk.AlertLog())
        log->RecordRefused(window.windowTitle(), RowOf(alert, time, description), rule);
}

QList<QPointer<TAlertForm>> TAlertRouter::InboxWindows() const {
    QList<QPointer<TAlertForm>> windows;
    for (TAlertForm* w : Desk.AlertWindows())
        if (!w->Closing && IsInboxDataConfig(w->ZentrikWindowX->DataConfig()))
            windows.append(w);
    return windows;
}

bool TAlertRouter::IsBusy() const {
    if (qsizetype(Pending.size()) >= MaxWaiting || PendingBytes >= MaxWaitingBytes)
        return true;
    // Everything taken ends up in the history; while it cannot keep up, taking more would only
    // pile alerts up in memory.
    const IAlertLog* log = Desk.AlertLog();
    return log && log->IsBehind();
}

IAlertSink::TAnswer TAlertRouter::OfferAlerts(QList<TSourceAlert>&& alerts) {
    if (Closing)
        return TOffer::Closing;
    if (IsBusy() || qsizetype(Pending.size()) + alerts.size() > MaxWaiting)
        return TOffer::Busy;
    qint64 bytes = 0;
    for (const TSourceAlert& alert : alerts)
        bytes += AlertBytes(alert);
    if (PendingBytes + bytes > MaxWaitingBytes)
        return TOffer::Busy;
    const QDateTime now = Clock();
    if (Held()) {
        for (TSourceAlert& alert : alerts) {
            const qint64 size = AlertBytes(alert);
            Pending.push_back({std::move(alert), now, size});
            PendingBytes += size;
        }
        return {TOffer::Accepted, 0, 0};
    }
    // Without new windows, what no open window takes is known now, and the sender is told; so
    // is what every open window it goes to refuses.
    const QList<QPointer<TAlertForm>> windows = InboxWindows();
    const bool rules = AnyWindowHasRules(windows);
    QHash<QString, QList<QPointer<TAlertForm>>> byName;
    if (!OpenNewWindows || rules)
        for (const QPointer<TAlertForm>& w : windows)
            byName[w->ZentrikWindowX->WindowName()].append(w);
    const bool anyInboxWindow = !windows.isEmpty(), catchAll = byName.contains(CatchAllName);
    TMatchers matchers;
    qsizetype unrouted = 0, filtered = 0;
    for (TSourceAlert& alert : alerts) {
        const bool routed =
            OpenNewWindows || catchAll ||
            (alert.Strategy == CatchAllName ? anyInboxWindow : byName.contains(alert.Strategy));
        if (!routed) {
            RecordUnrouted(alert, now);
            ++unrouted;
            continue;
        }
        if (rules) {
            // The windows it goes to now; none yet when one would open for it (its rules are
            // asked when it does).
            const bool toEvery = alert.Strategy == CatchAllName;
            QList<QPointer<TAlertForm>> targets = toEvery ? windows : byName.value(alert.Strategy);
            const bool toCatchAll = targets.isEmpty() && !OpenNewWindows;
            if (toCatchAll)
                targets = byName.value(CatchAllName);
            if (!targets.isEmpty()) {
                const TMatchedAlert matched(alert);
                QStringList refusals;
                for (const QPointer<TAlertForm>& w : targets) {
                    QString why = matchers.Refusal(w, matched);
                    if (why.isEmpty())
                        break;
                    refusals.append(std::move(why));
                }
                if (refusals.size() == targets.size()) {
                    const QString description =
                        toCatchAll && !toEvery
                            ? (alert.Description.isEmpty()
                                   ? alert.Strategy
                                   : alert.Strategy + QStringLiteral(": ") + alert.Description)
                            : alert.Description;
                    for (qsizetype i = 0; i < targets.size(); ++i)
                        RecordRefused(*targets[i], alert, now, description, refusals[i]);
                    ++filtered;
                    continue;
                }
            }
        }
        const qint64 size = AlertBytes(alert);
        Pending.push_back({std::move(alert), now, size});
        PendingBytes += size;
    }
    if (!Pending.empty())
        ScheduleFlush();
    return {TOffer::Accepted, unrouted, filtered};
}

QList<QList<IAlertSink::TWindowVerdict>>
TAlertRouter::TryAlerts(const QList<TSourceAlert>& alerts) const {
    const QList<QPointer<TAlertForm>> windows = InboxWindows();
    QHash<QString, QList<QPointer<TAlertForm>>> byName;
    for (const QPointer<TAlertForm>& w : windows)
        byName[w->ZentrikWindowX->WindowName()].append(w);
    TMatchers matchers;
    QList<QList<TWindowVerdict>> verdicts;
    for (const TSourceAlert& alert : alerts) {
        const TMatchedAlert matched(alert);
        QList<TWindowVerdict>& verdict = verdicts.emplace_back();
        const bool toEvery = alert.Strategy == CatchAllName;
        QList<QPointer<TAlertForm>> targets = toEvery ? windows : byName.value(alert.Strategy);
        // A window that would open for it: its rules are the default window's.
        const auto opens = [&](const QString& name) {
            const TKeepRuleMatcher matcher(DefaultWindowRecord().KeepRules);
            verdict.append({name, true, matcher.Refusal(matched)});
        };
        if (targets.isEmpty()) {
            const QString name = toEvery ? zkInbox::DefaultStrategy() : alert.Strategy;
            targets = byName.value(name);
            // As a delivery would now (the rate of new windows aside).
            if (targets.isEmpty() && OpenNewWindows && windows.size() < MaxInboxWindows) {
                opens(name);
                continue;
            }
        }
        if (targets.isEmpty()) {
            targets = byName.value(CatchAllName);
            if (targets.isEmpty() && OpenNewWindows) {
                opens(CatchAllName);
                continue;
            }
        }
        for (const QPointer<TAlertForm>& w : targets)
            if (w)
                verdict.append({w->windowTitle(), false, matchers.Refusal(w, matched)});
    }
    return verdicts;
}

bool TAlertRouter::MayOpenWindow(int inboxWindows) {
    if (!OpenNewWindows || inboxWindows >= MaxInboxWindows)
        return false;
    const qint64 now = MonotonicMs();
    while (!OpenedAtMs.empty() && now - OpenedAtMs.front() >= MinuteMs)
        OpenedAtMs.pop_front();
    return qsizetype(OpenedAtMs.size()) < MaxNewWindowsPerMinute;
}

TAlertForm* TAlertRouter::OpenWindowFor(const QString& strategy) {
    TAlertForm* window = Desk.NewAlertWindow();
    if (!window)
        return nullptr;
    window->ZentrikWindowX->SetDataConfig(InboxDataConfig(strategy));
    window->OfferRulesMenu();
    // As the menu's New Alert Window does: the lists its actions name exist at once.
    if (TGenericConnectorForm* connectors = Desk.ConnectorWindow())
        connectors->EnsureListsForActions(window->Actions);
    return window;
}

void TAlertRouter::Release() {
    if (--Holds == 0 && !Pending.empty())
        ScheduleFlush();
}

void TAlertRouter::Flush() {
    Deliver(true);
}

int TAlertRouter::WindowsPerTurn() const {
    return std::max(1,
                    int(double(MaxTurnMs - DeliverySliceMs) / std::max(0.1, RepaintMsPerWindow)));
}

bool TAlertRouter::DeliveryDue() const {
    return Monotonic.nsecsElapsed() >= NextFlushNs;
}

void TAlertRouter::Deliver(bool all) {
    FlushPosted = false;
    SpacingTimer.stop();
    // A window's action may run an event loop (an error report) inside a delivery: the next
    // one waits until this one is done, keeping the windows' order.
    if (Pending.empty() || ((Delivering || Held()) && !all))
        return;
    struct TDelivering {
        bool& Flag;
        const bool Before = std::exchange(Flag, true);
        ~TDelivering() { Flag = Before; }
    } delivering{Delivering};
    // What this delivery costs, its windows' repaint included (they come before timers in the
    // same turn), is the least time until the next: at most half the time goes to deliveries.
    // What came after the delivery is its windows' repaint. Costs are the thread's processor
    // time: on a busy machine the time it waited for the processor is no work of its own, and
    // counted as such it spaced deliveries, and the alerts' rows, milliseconds apart.
    const qint64 startNs = Monotonic.nsecsElapsed();
    const qint64 startWorkNs = zkThreadClock::ProcessorNs();
    auto endWorkNs = std::make_shared<qint64>(startWorkNs);
    auto reached = std::make_shared<int>(0);
    QTimer::singleShot(0, this, [this, startWorkNs, endWorkNs, reached] {
        const qint64 workNs = zkThreadClock::ProcessorNs();
        const qint64 spacingNs = std::min(workNs - startWorkNs, MaxSpacingMs * 1000000);
        NextFlushNs = Monotonic.nsecsElapsed() + spacingNs;
        LastSpacingMs = spacingNs / 1000000;
        if (*reached > 0)
            RepaintMsPerWindow =
                (RepaintMsPerWindow + double(workNs - *endWorkNs) / 1e6 / double(*reached)) / 2;
    });
    // The inbox windows by name, looked up once for the whole delivery.
    QHash<QString, QList<QPointer<TAlertForm>>> byName;
    QList<QPointer<TAlertForm>> everyWindow = InboxWindows();
    int inboxWindows = int(everyWindow.size());
    for (const QPointer<TAlertForm>& w : everyWindow)
        byName[w->ZentrikWindowX->WindowName()].append(w);
    int opened = 0;
    // A window to open for this alert: now, unless one opened in this turn already (opening
    // one costs a repaint of its own).
    auto open = [&](const QString& name, bool counted) -> bool {
        if (!all && opened > 0)
            return false;
        ++opened;
        TAlertForm* w = OpenWindowFor(name);
        if (!w)
            return true;
        if (counted)
            OpenedAtMs.push_back(MonotonicMs());
        byName[name].append(w);
        everyWindow.append(w);
        ++inboxWindows;
        return true;
    };
    // Alerts whose window opens in a later turn, or that would reach more windows than may
    // repaint after this delivery, and their strategies: later alerts of those wait behind
    // them, so each window shows its alerts in arrival order.
    std::deque<TWaiting> later;
    QSet<QString> waitingStrategies;
    QSet<TAlertForm*> touched;
    TMatchers matchers;
    const int windowsPerTurn = all ? INT_MAX : WindowsPerTurn();
    const qsizetype maxRows = all ? std::numeric_limits<qsizetype>::max() : MaxRowsPerTurn;
    qsizetype rowsHanded = 0;
    bool stop = false;
    while (!Pending.empty() && !stop) {
        if (!all && Monotonic.nsecsElapsed() - startNs > DeliverySliceMs * 1000000)
            break;
        // Each window's alerts in arrival order, the windows in the order they were reached.
        QList<QPointer<TAlertForm>> order;
        QHash<TAlertForm*, QList<TAlertData>> rows;
        auto add = [&](TAlertForm* w, const TWaiting& item, const QString& description,
                       bool emphasised) {
            auto it = rows.find(w);
            if (it == rows.end()) {
                order.append(w);
                it = rows.insert(w, {});
            }
            it->append(RowOf(item.Alert, item.Time, description));
            it->back().Emphasised = emphasised;
        };
        for (qsizetype n = 0; n < SliceAlerts && !Pending.empty(); ++n) {
            const QString strategy = Pending.front().Alert.Strategy;
            const bool toEvery = strategy == CatchAllName;
            // An alert for every window waits for the windows still to open before it, and
            // what came after it waits behind it.
            if (toEvery && !waitingStrategies.isEmpty()) {
                stop = true;
                break;
            }
            TWaiting item = std::move(Pending.front());
            Pending.pop_front();
            PendingBytes -= item.Bytes;
            // It waits for a later turn, and so does every alert of its strategy after it; an
            // alert for every window ends this turn (true).
            auto waitBehind = [&](TWaiting& waiting) {
                waitingStrategies.insert(strategy);
                later.push_back(std::move(waiting));
                stop = toEvery;
                return stop;
            };
            if (waitingStrategies.contains(strategy)) {
                later.push_back(std::move(item));
                continue;
            }
            QList<QPointer<TAlertForm>> targets = toEvery ? everyWindow : byName.value(strategy);
            QString description = item.Alert.Description;
            if (targets.isEmpty()) {
                // "*" with no inbox window open goes to the inbox's own default strategy.
                const QString name = toEvery ? zkInbox::DefaultStrategy() : strategy;
                targets = byName.value(name);
                if (targets.isEmpty() && MayOpenWindow(inboxWindows)) {
                    if (!open(name, true)) {
                        if (waitBehind(item))
                            break;
                        continue;
                    }
                    targets = byName.value(name);
                }
            }
            if (targets.isEmpty()) {
                // No window of its own: the catch-all, which shows whose alert it is.
                targets = byName.value(CatchAllName);
                if (targets.isEmpty() && OpenNewWindows) {
                    if (!open(CatchAllName, false)) {
                        if (waitBehind(item))
                            break;
                        continue;
                    }
                    targets = byName.value(CatchAllName);
                }
                if (!toEvery)
                    description = description.isEmpty()
                                      ? strategy
                                      : strategy + QStringLiteral(": ") + description;
            }
            // Past this delivery's rows it waits, and all after it (the first alert goes
            // whatever its windows, or one for many windows would never go).
            if (rowsHanded > 0 && rowsHanded + targets.size() > maxRows) {
                later.push_back(std::move(item));
                stop = true;
                break;
            }
            qsizetype newWindows = 0;
            for (const QPointer<TAlertForm>& w : targets)
                newWindows += w && !touched.contains(w) ? 1 : 0;
            // An alert for every window goes first in a turn, whatever their number.
            if (newWindows > 0 && !touched.isEmpty() &&
                touched.size() + newWindows > windowsPerTurn) {
                if (waitBehind(item))
                    break;
                continue;
            }
            bool taken = false, refused = false;
            std::optional<TMatchedAlert> matched;
            for (const QPointer<TAlertForm>& w : targets)
                if (w && !w->Closing) {
                    bool emphasised = false;
                    if (const TKeepRuleMatcher* matcher = matchers.For(w)) {
                        if (!matched)
                            matched.emplace(item.Alert);
                        if (const QString why = matcher->Refusal(*matched); !why.isEmpty()) {
                            RecordRefused(*w, item.Alert, item.Time, description, why);
                            refused = true;
                            continue;
                        }
                        emphasised = matcher->Emphasises(*matched);
                    }
                    add(w, item, description, emphasised);
                    touched.insert(w);
                    ++rowsHanded;
                    taken = true;
                }
            // Its windows closed since it was taken (or none could open): the history keeps it.
            if (!taken && !refused)
                RecordUnrouted(item.Alert, item.Time);
        }
        for (const QPointer<TAlertForm>& w : order)
            if (w) // an earlier window's actions may have closed it
                w->ZentrikWindowX->AddExternalAlerts(rows.value(w));
    }
    *endWorkNs = zkThreadClock::ProcessorNs();
    *reached = int(touched.size());
    if (Delivered)
        Delivered(rowsHanded);
    // The alerts held back come first next time: they arrived before the rest.
    while (!later.empty()) {
        PendingBytes += later.back().Bytes;
        Pending.push_front(std::move(later.back()));
        later.pop_back();
    }
    if (!Pending.empty())
        ScheduleFlush();
}
