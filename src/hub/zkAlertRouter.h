#pragma once

// The router every outside source offers its alerts to (IAlertSink): it puts them into the
// alert windows, within the bounds that keep the client answering.

#include "config/zkInboxSettings.h"
#include "desk/zkAlertSink.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <algorithm>
#include <deque>
#include <functional>

class IAlertDesk;
class TAlertForm;

// Puts inbox alerts into the alert windows: every open window whose DataConfig has
// "Src=inbox" and whose window name equals the alert's strategy ("*": every inbox window).
// With none open and OpenNewWindows on, a new window for that strategy opens with the alert as
// its first row, as long as the windows it opened in the last minute are fewer than
// MaxNewWindowsPerMinute and fewer than MaxInboxWindows inbox windows are open. An alert whose
// strategy gets no window of its own goes to the catch-all window ("WN=*&Src=inbox"), opened
// when needed, with its strategy before its description. With OpenNewWindows off and no
// catch-all window open, it is kept in the history alone ("unrouted").
//
// What arrives in one turn of the event loop is delivered together; under a flood, deliveries
// are spaced by what the last one cost (its rows and the repaint they caused, in the thread's
// processor time, so a busy machine's waits add no spacing of their own), so the windows
// repaint for many requests at once and the client keeps answering. A delivery takes at most
// about DeliverySliceMs, hands the windows at most MaxRowsPerTurn rows, opens at most one
// window, and reaches no more windows than can repaint in the rest of MaxTurnMs (by what a
// window's repaint cost last time); the rest waits for the next turn, each window's alerts in
// their order.
//
// Each window's own rules (TKeepRules) narrow what it keeps: an alert a window's rules refuse
// is kept in the history as refused by that window, and never shown, sounded or announced.
// An alert that every open window it goes to refuses is found so when it is offered, and is
// counted as filtered. A window's emphasis rule marks the rows it keeps of symbols on the
// rule's list (TAlertData::Emphasised) as they are delivered.
class TAlertRouter : public QObject, public IAlertSink {
    Q_OBJECT
public:
    // More alerts than this waiting for delivery, or more bytes, or a history that is behind:
    // the senders are told the client is busy.
    static constexpr qsizetype MaxWaiting = 50000;
    static constexpr qint64 MaxWaitingBytes = qint64(16) << 20;
    // The longest a delivery waits for the one before it to be paid for.
    static constexpr qint64 MaxSpacingMs = 50;
    // A delivery hands over alerts for at most this long in one turn...
    static constexpr qint64 DeliverySliceMs = 8;
    // ... and at most this many rows (an alert for three windows is three), whatever the clock
    // says: a machine too busy to look at it often still gets its turn back soon.
    static constexpr qsizetype MaxRowsPerTurn = 1000;
    // It and the repaint of the windows it reached take about this long at most.
    static constexpr qint64 MaxTurnMs = 30;
    // While this many inbox windows are open, new strategies go to the catch-all window.
    static constexpr int MaxInboxWindows = 50;

    explicit TAlertRouter(IAlertDesk& desk, QObject* parent = nullptr);

    void SetOpenNewWindows(bool open) { OpenNewWindows = open; }
    void SetMaxNewWindowsPerMinute(int count) { MaxNewWindowsPerMinute = std::max(0, count); }
    void SetClosing(bool closing) { Closing = closing; }
    // Alerts that no window would take now are kept in the history at once and counted as
    // unrouted; the others wait for the next turn.
    TAnswer OfferAlerts(QList<TSourceAlert>&& alerts) override;
    // Full: no room for a single alert, or the history is behind.
    bool IsBusy() const override;
    // Where each alert would go now, and which window's rule would refuse it.
    QList<QList<TWindowVerdict>> TryAlerts(const QList<TSourceAlert>& alerts) const override;
    // Delivers all that waits, now (the client's closing does not wait for the next turn),
    // held or not.
    void Flush();
    // While a hold lasts (a layout's windows are being made, and the events they posted are
    // delivered between them), nothing is delivered: an alert would find only the windows made
    // so far, and open a second window for its strategy or go to the catch-all. Offers are
    // still taken, in order, without asking the half-made desk which windows take them (what
    // none takes is found at delivery and kept in the history); all goes in the turn after the
    // last hold ends.
    class THold {
    public:
        explicit THold(TAlertRouter& router) : Router(&router) { ++router.Holds; }
        ~THold() {
            if (Router)
                Router->Release();
        }
        THold(const THold&) = delete;
        THold& operator=(const THold&) = delete;

    private:
        QPointer<TAlertRouter> Router;
    };
    bool Held() const { return Holds > 0; }
    qsizetype Waiting() const { return qsizetype(Pending.size()); }
    qint64 WaitingBytes() const { return PendingBytes; }
    // What an alert waiting here is counted as.
    static qint64 AlertBytes(const TSourceAlert& alert);

    // The arrival time of alerts, and the clock of the new-window rate; tests replace them.
    std::function<QDateTime()> Clock = [] { return QDateTime::currentDateTimeUtc(); };
    std::function<qint64()> MonotonicMs;
    // What repainting one window after a delivery cost in processor time, as last measured
    // (tests set it).
    double RepaintMsPerWindow = 2;
    // How many windows one delivery may reach.
    int WindowsPerTurn() const;
    // The least time until the next delivery, as last chosen from what the one before cost
    // (-1 before the first was measured), and whether that time is over.
    qint64 SpacingMs() const { return LastSpacingMs; }
    bool DeliveryDue() const;
    // Told after each delivery how many rows it handed the windows (tests count them).
    std::function<void(qsizetype rows)> Delivered;

private:
    struct TWaiting {
        TSourceAlert Alert;
        QDateTime Time;
        qint64 Bytes;
    };
    void Deliver(bool all);
    TAlertForm* OpenWindowFor(const QString& strategy);
    // Whether a window for a new strategy may open now (the rate and the ceiling).
    bool MayOpenWindow(int inboxWindows);
    void RecordUnrouted(const TSourceAlert& alert, const QDateTime& time);
    void RecordRefused(TAlertForm& window, const TSourceAlert& alert, const QDateTime& time,
                       const QString& description, const QString& rule);
    // The open inbox windows, in the desk's order.
    QList<QPointer<TAlertForm>> InboxWindows() const;
    void ScheduleFlush();
    void Release();

    IAlertDesk& Desk;
    std::deque<TWaiting> Pending;
    qint64 PendingBytes = 0;
    bool FlushPosted = false;
    bool Delivering = false;
    QElapsedTimer Monotonic;
    qint64 NextFlushNs = 0; // on Monotonic: no delivery before
    qint64 LastSpacingMs = -1;
    QTimer SpacingTimer;
    bool OpenNewWindows = true;
    int MaxNewWindowsPerMinute = TInboxSettings().MaxNewWindowsPerMinute;
    std::deque<qint64> OpenedAtMs; // windows of new strategies opened in the last minute
    bool Closing = false;
    int Holds = 0;
};

// The DataConfig of a new inbox window for that strategy ("*": the catch-all window).
QString InboxDataConfig(const QString& strategy);
