#include "zkTcpRelay.h"

#include <QTcpSocket>

TTcpRelay::TTcpRelay(quint16 targetPort) : Target(targetPort) {
    connect(&Server, &QTcpServer::newConnection, this, &TTcpRelay::OnNewConnection);
    Server.listen(QHostAddress::LocalHost, 0);
}

TTcpRelay::~TTcpRelay() {
    cutAll();
}

void TTcpRelay::OnNewConnection() {
    while (QTcpSocket* client = Server.nextPendingConnection()) {
        ++Accepted;
        auto pair = std::make_unique<TPair>();
        pair->Client = client;
        pair->Server = std::make_unique<QTcpSocket>();
        QTcpSocket* server = pair->Server.get();
        // What the client sends before the server's side is up waits in the client's socket.
        connect(client, &QTcpSocket::readyRead, this, [this, client, server] {
            if (server->state() != QAbstractSocket::ConnectedState)
                return;
            const QByteArray bytes = client->readAll();
            if (!Hold)
                server->write(bytes);
        });
        connect(server, &QTcpSocket::connected, this, [this, client, server] {
            const QByteArray early = client->readAll();
            if (!Hold)
                server->write(early);
        });
        connect(server, &QTcpSocket::readyRead, this,
                [client, server] { client->write(server->readAll()); });
        connect(client, &QTcpSocket::disconnected, server, &QTcpSocket::disconnectFromHost);
        connect(server, &QTcpSocket::disconnected, client, &QTcpSocket::disconnectFromHost);
        server->connectToHost(QHostAddress::LocalHost, Target);
        Pairs.push_back(std::move(pair));
    }
}

void TTcpRelay::cutAll() {
    for (const std::unique_ptr<TPair>& pair : Pairs) {
        // Neither side may reach the other once it goes.
        pair->Server->disconnect();
        pair->Client->disconnect();
        pair->Server->abort();
        pair->Client->abort();
        pair->Client->deleteLater();
    }
    Pairs.clear();
}
