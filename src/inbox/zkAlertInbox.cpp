#include "zkAlertInbox.h"

#include "desk/zkAlertSink.h"
#include "inbox/zkInboxServer.h"
#include "inbox/zkInboxSocket.h"

TAlertInbox::TAlertInbox(IAlertSink& sink, QObject* parent)
    : QObject(parent), ServerPart(std::make_unique<TInboxServer>()),
      SocketPart(std::make_unique<TInboxSocket>()) {
    ServerPart->SetSink(&sink);
    SocketPart->SetSink(&sink);
}

TAlertInbox::~TAlertInbox() = default;

bool TAlertInbox::Apply(const TInboxSettings& settings) {
    ServerPart->SetToken(settings.Token);
    Enabled = settings.Enabled;
    TokenProblem = settings.Token.isEmpty() ? settings.TokenProblem : QString();
    if (!Enabled) {
        ServerPart->Close();
        SocketPart->Close();
        return true;
    }
    if (!TokenProblem.isEmpty()) {
        // No address works without the token, and a new one would shut out every program
        // that has the old address. The socket needs no token and goes on.
        ServerPart->Close();
        if (!SocketPart->IsListening())
            SocketPart->Listen(TInboxSocket::DefaultSocketPath());
        return true;
    }
    bool listening = true;
    // A port in use leaves the webhook where it listened.
    if (!ServerPart->IsListening() || ServerPart->Port() != settings.Port)
        listening = ServerPart->Listen(settings.Port);
    if (!SocketPart->IsListening())
        SocketPart->Listen(TInboxSocket::DefaultSocketPath());
    return listening;
}

bool TAlertInbox::IsListening() const {
    return Enabled && ServerPart->IsListening();
}

QString TAlertInbox::StatusText() const {
    if (!Enabled)
        return tr("Not listening: alerts from other programs are off");
    if (!TokenProblem.isEmpty())
        return TokenProblemText(TokenProblem);
    if (ServerPart->IsListening())
        return tr("Listening on 127.0.0.1:%1").arg(ServerPart->Port());
    return tr("Not listening: %1").arg(ServerPart->Problem());
}

QString TAlertInbox::TokenProblemText(const QString& problem) {
    return tr("Not listening: the inbox token is in the desktop's keyring and %1. Unlock the "
              "keyring (in Passwords and Keys, or by logging in to the desktop again); the "
              "inbox opens with its address unchanged once it can read the token.")
        .arg(problem);
}

QString TAlertInbox::PlanText(bool enabled, quint16 port) const {
    const bool listening = IsListening();
    if (!enabled)
        return listening ? tr("Listening on 127.0.0.1:%1 until Save; then alerts from other "
                              "programs are off")
                               .arg(ServerPart->Port())
                         : tr("Not listening: alerts from other programs are off");
    if (listening && ServerPart->Port() == port)
        return tr("Listening on 127.0.0.1:%1").arg(port);
    const QString problem = TInboxServer::PortProblem(port);
    if (problem.isEmpty())
        return tr("Will listen on 127.0.0.1:%1 after Save").arg(port);
    if (listening)
        return tr("Cannot listen: %1; alerts still come in on 127.0.0.1:%2")
            .arg(problem)
            .arg(ServerPart->Port());
    return tr("Cannot listen: %1").arg(problem);
}

void TAlertInbox::Close() {
    ServerPart->SetClosing(true);
    SocketPart->SetClosing(true);
}
