#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <QWidget>

class IAlertData;
class QLabel;
class TSettingsStore;

// Tells screen readers of an alert window's new alerts without moving the focus: a notification
// the window carries (under its list, out of sight) takes the text and reports itself shown,
// which AT-SPI screen readers (Orca) speak; its name and its label's text change too. One alert
// is said whole ("AAPL, 182.50, New high (+1.20%), in Running Up"); alerts that come together,
// or faster than a reader can say them, are said as one ("AAPL and 11 more in Running Up").
class TAlertAnnouncer : public QWidget {
    Q_OBJECT
public:
    // Alerts within this long of the first are gathered into one announcement...
    static constexpr int GatherMs = 300;
    // ...and announcements of one window come no closer together than this.
    static constexpr int MinGapMs = 1500;
    // The longest symbol, description and window name said; longer ones are cut.
    static constexpr int MaxSymbolChars = 24;
    static constexpr int MaxDescriptionChars = 160;
    static constexpr int MaxWindowChars = 80;

    explicit TAlertAnnouncer(QWidget* window);

    // A new alert of the window named windowName; nothing while announcements are off.
    void AlertArrived(const QString& windowName, const IAlertData& alert);
    // What was said last (empty before the first), and how many times something was said.
    QString Text() const;
    int Announcements() const { return Count; }
    // Says at once what is waiting (nothing when nothing is).
    void Flush();

    // The words for one alert, and for a burst of count alerts whose first is alert.
    static QString AlertText(const QString& windowName, const IAlertData& alert);
    static QString BurstText(const QString& windowName, const QString& firstSymbol, int count);

private:
    QLabel* Label = nullptr;
    QTimer Timer;
    QElapsedTimer SinceLast;
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
