#pragma once

#include <QString>
#include <QWidget>

class IAlertData;
class QLabel;
class TSettingsStore;

// Tells screen readers of an alert window's new alerts without moving the focus: a polite
// announcement, which a reader says once it has finished what it is saying, rather than cutting
// it off. The notification the window carries (under its list, out of sight) takes the window's
// text as its name and its label's text. One alert is said whole ("AAPL, 182.50, New high
// (+1.20%), in Running Up"); alerts that come together, or faster than a reader can say them,
// are said as one ("AAPL and 11 more in Running Up"). What all windows have to say within one
// gap is one announcement, their texts joined ("AAPL, in Running Up; MSFT and 2 more in
// Scans"), and none is made while a menu or a dialog is open: the line waits until it closes.
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

    // A new alert of the window named windowName; nothing while announcements are off.
    void AlertArrived(const QString& windowName, const IAlertData& alert);
    // What was said last of this window (empty before the first), and how many times.
    QString Text() const;
    int Announcements() const { return Count; }
    // Says at once what is waiting, of every window (nothing when nothing is).
    void Flush();

    // The last line said for all windows together, and how many lines were said.
    static QString LastLine();
    static int Lines();

    // The words for one alert, and for a burst of count alerts whose first is alert.
    static QString AlertText(const QString& windowName, const IAlertData& alert);
    static QString BurstText(const QString& windowName, const QString& firstSymbol, int count);

private:
    friend class TAnnouncementLine;
    bool HasWaiting() const { return Waiting > 0; }
    // This window's part of the line, which it now shows as said.
    QString TakeWaiting();

    QLabel* Label = nullptr;
    int Waiting = 0;
    int Count = 0;
    QString FirstText;
    QString FirstSymbol;
    QString WindowName;
};

// "Announce new alerts to screen readers" (Options > General): read at start and when the
// options are saved; on unless switched off. Stored as AnnounceAlerts under the settings key.
bool AlertAnnouncementsEnabled();
void SetAlertAnnouncementsEnabled(bool enabled);
bool ReadAnnounceAlerts(const TSettingsStore& store);
void WriteAnnounceAlerts(const TSettingsStore& store, bool enabled);
