#pragma once

#include "config/zkQuietHours.h"

#include <QString>
#include <QWidget>

#include <functional>

class IAlertData;
class QLabel;
class TSettingsStore;

// A busy window said as a summary: how many alerts came since it was last said and the newest
// symbol ("3 new alerts in Running Up, newest MSFT"), said no more than once a gap, so several
// busy windows do not keep a reader talking. The first is said as soon as each alert would be.
class TAlertSummary {
public:
    static constexpr qint64 GapMs = 5000;

    void Arrived(const QString& symbol);
    int Waiting() const { return Count; }
    // How long from nowMs until it may be said: 0 before the first and once the gap passed.
    qint64 DueInMs(qint64 nowMs) const;
    // The words for what is waiting, now said at nowMs; nothing waits after.
    QString Take(const QString& windowName, qint64 nowMs);
    void Drop() { Count = 0; }

    static QString Text(const QString& windowName, int count, const QString& newest);

private:
    int Count = 0;
    QString Newest;
    bool Said = false;
    qint64 SaidMs = 0;
};

// Tells screen readers of an alert window's new alerts without moving the focus: a polite
// announcement, which a reader says once it has finished what it is saying, rather than cutting
// it off. The notification the window carries (under its list, out of sight) takes the window's
// text as its name and its label's text. One alert is said whole ("AAPL, 182.50, New high
// (+1.20%), in Running Up"); alerts that come together, or faster than a reader can say them,
// are said as one ("AAPL and 11 more in Running Up"). What all windows have to say within one
// gap is one announcement, their texts joined ("AAPL, in Running Up; MSFT and 2 more in
// Scans"), and none is made while a menu or a dialog is open: the line waits until it closes.
// A window may instead be said as a summary (see TAlertSummary) or not at all (SetMode).
class TAlertAnnouncer : public QWidget {
    Q_OBJECT
public:
    // Alerts within this long of the first are gathered into one announcement...
    static constexpr int GatherMs = 300;
    // ...and announcements come no closer together than this, of all windows together.
    static constexpr int MinGapMs = 1500;
    // While a menu or dialog is open, how often the waiting line looks whether it has closed.
    static constexpr int HeldRetryMs = 250;
    // The longest symbol, description and window name said; longer ones are cut.
    static constexpr int MaxSymbolChars = 24;
    static constexpr int MaxDescriptionChars = 160;
    static constexpr int MaxWindowChars = 80;

    explicit TAlertAnnouncer(QWidget* window);
    ~TAlertAnnouncer() override;

    // Each alert (the default), a summary now and then, or nothing; what waits is dropped.
    void SetMode(TAnnounceMode mode);
    TAnnounceMode Mode() const { return AnnounceMode; }

    // A new alert of the window named windowName; nothing while announcements are off.
    void AlertArrived(const QString& windowName, const IAlertData& alert);
    // What was said last of this window (empty before the first), and how many times.
    QString Text() const;
    int Announcements() const { return Count; }
    // Says at once what is waiting, of every window (nothing when nothing is); a summary only
    // once its gap has passed.
    void Flush();

    // The last line said for all windows together, and how many lines were said.
    static QString LastLine();
    static int Lines();

    // The words for one alert, and for a burst of count alerts whose first is alert.
    static QString AlertText(const QString& windowName, const IAlertData& alert);
    static QString BurstText(const QString& windowName, const QString& firstSymbol, int count);

    // Milliseconds on a steady clock, for the summaries' gaps; tests put in their own.
    static std::function<qint64()>& Clock();

private:
    friend class TAnnouncementLine;
    bool HasWaiting() const;
    // How long this window's part must still wait (0: it may be said now).
    qint64 DueInMs(qint64 nowMs) const;
    // This window's part of the line, which it now shows as said.
    QString TakeWaiting(qint64 nowMs);

    QLabel* Label = nullptr;
    int Waiting = 0;
    int Count = 0;
    QString FirstText;
    QString FirstSymbol;
    QString WindowName;
    TAnnounceMode AnnounceMode = TAnnounceMode::Each;
    TAlertSummary Summary;
};

// "Announce new alerts to screen readers" (Options > General): read at start and when the
// options are saved; on unless switched off. Stored as AnnounceAlerts under the settings key.
bool AlertAnnouncementsEnabled();
void SetAlertAnnouncementsEnabled(bool enabled);
bool ReadAnnounceAlerts(const TSettingsStore& store);
void WriteAnnounceAlerts(const TSettingsStore& store, bool enabled);
