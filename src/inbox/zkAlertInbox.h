#pragma once

// The alert inbox as the client runs it: the webhook and the local socket take alerts from the
// user's own programs, and the router puts them into the alert windows. The shell owns one,
// applies the stored settings at start and after the options are saved, and flushes it before
// the layout is saved on closing.

#include "inbox/zkInboxSettings.h"
#include "inbox/zkInboxSink.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class IAlertDesk;
class TAlertForm;
class TInboxServer;
class TInboxSocket;

// Puts inbox alerts into the alert windows: every open window whose DataConfig has
// "Src=inbox" and whose window name equals the alert's strategy ("*": every inbox window).
// With none open and OpenNewWindows on, a new window for that strategy opens with the alert as
// its first row. What arrives in one turn of the event loop is delivered together; under a
// flood, deliveries are spaced by what the last one cost (its rows and the repaint they caused),
// so the windows repaint for many requests at once and the client keeps answering.
class TInboxRouter : public QObject, public IInboxSink {
    Q_OBJECT
public:
    // More alerts than this waiting for delivery: the senders are told the client is busy.
    static constexpr qsizetype MaxWaiting = 200000;
    // The longest a delivery waits for the one before it to be paid for.
    static constexpr qint64 MaxSpacingMs = 50;

    explicit TInboxRouter(IAlertDesk& desk, QObject* parent = nullptr);

    void SetOpenNewWindows(bool open) { OpenNewWindows = open; }
    void SetClosing(bool closing) { Closing = closing; }
    TOffer OfferAlerts(QList<TInboxAlert>&& alerts) override;
    // Delivers what waits now (the client's closing does not wait for the next turn).
    void Flush();
    qsizetype Waiting() const { return Pending.size(); }

    // The arrival time of alerts; tests replace it.
    std::function<QDateTime()> Clock = [] { return QDateTime::currentDateTimeUtc(); };

private:
    struct TWaiting {
        TInboxAlert Alert;
        QDateTime Time;
    };
    TAlertForm* OpenWindowFor(const QString& strategy);
    void ScheduleFlush();

    IAlertDesk& Desk;
    QList<TWaiting> Pending;
    bool FlushPosted = false;
    QElapsedTimer Monotonic;
    qint64 NextFlushNs = 0; // on Monotonic: no delivery before
    QTimer SpacingTimer;
    bool OpenNewWindows = true;
    bool Closing = false;
};

// True when an alert window's DataConfig makes it an inbox window ("Src=inbox").
bool IsInboxDataConfig(const QString& dataConfig);
// The DataConfig of a new inbox window for that strategy.
QString InboxDataConfig(const QString& strategy);

class TAlertInbox : public QObject {
    Q_OBJECT
public:
    explicit TAlertInbox(IAlertDesk& desk, QObject* parent = nullptr);
    ~TAlertInbox() override;

    // Starts, restarts or stops the webhook and the socket as the settings say. False when the
    // webhook cannot have the port (Server().Problem() says why): it then goes on listening
    // where it did, if it did.
    bool Apply(const TInboxSettings& settings);
    // "Listening on 127.0.0.1:8731", why not, or that the inbox is off.
    QString StatusText() const;
    // What Apply would make of these choices, for the options page while they are edited:
    // "Will listen on 127.0.0.1:9000 after Save", "port 9000 is in use by another program...".
    QString PlanText(bool enabled, quint16 port) const;
    bool IsListening() const;
    // Before the layout is saved on closing: what was accepted is delivered, later senders are
    // told the client is closing.
    void Close();

    TInboxRouter& Router() { return *RouterPart; }
    TInboxServer& Server() { return *ServerPart; }

private:
    std::unique_ptr<TInboxRouter> RouterPart;
    std::unique_ptr<TInboxServer> ServerPart;
    std::unique_ptr<TInboxSocket> SocketPart;
    bool Enabled = false;
};
