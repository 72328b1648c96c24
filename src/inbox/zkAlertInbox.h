#pragma once

// The alert inbox as the client runs it: the webhook (with its token) and the local socket take
// alerts from the user's own programs and offer them to a sink, the client's router. The alert
// hub owns one, applies the stored settings at start and after the options are saved, and
// closes it once the broker has delivered on closing.

#include "config/zkInboxSettings.h"

#include <QObject>
#include <QString>

#include <memory>

class IAlertSink;
class TInboxServer;
class TInboxSocket;

class TAlertInbox : public QObject {
    Q_OBJECT
public:
    // The sink must outlive the inbox.
    explicit TAlertInbox(IAlertSink& sink, QObject* parent = nullptr);
    ~TAlertInbox() override;

    // Starts, restarts or stops the webhook and the socket as the settings say (the router's
    // choices among them are the router's). False when the
    // webhook cannot have the port (Server().Problem() says why): it then goes on listening
    // where it did, if it did. Without a token because the keyring would not give it
    // (TokenProblem), the webhook is closed until settings with the token come.
    bool Apply(const TInboxSettings& settings);
    // What the status says of a token that cannot be read, and how to mend it.
    static QString TokenProblemText(const QString& problem);
    bool WaitsForToken() const { return Enabled && !TokenProblem.isEmpty(); }
    // "Listening on 127.0.0.1:8731", why not, or that the inbox is off.
    QString StatusText() const;
    // What Apply would make of these choices, for the options page while they are edited:
    // "Will listen on 127.0.0.1:9000 after Save", "port 9000 is in use by another program...".
    QString PlanText(bool enabled, quint16 port) const;
    bool IsListening() const;
    // On closing: later senders are told the client is closing.
    void Close();

    TInboxServer& Server() { return *ServerPart; }

private:
    std::unique_ptr<TInboxServer> ServerPart;
    std::unique_ptr<TInboxSocket> SocketPart;
    bool Enabled = false;
    QString TokenProblem;
};
