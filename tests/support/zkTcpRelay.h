#pragma once

// A TCP relay on a free loopback port to another port of this machine, run by the test's event
// loop: what one side sends reaches the other, until the test holds back what the client sends
// (the server then never hears of it) or cuts every connection at once, as a network that fails
// midway does.

#include <QObject>
#include <QTcpServer>

#include <memory>
#include <vector>

class QTcpSocket;

class TTcpRelay : public QObject {
public:
    explicit TTcpRelay(quint16 targetPort);
    ~TTcpRelay() override;
    quint16 port() const { return Server.serverPort(); }
    // While on, what clients send is dropped; what the server sends still reaches them.
    void setHoldClientBytes(bool hold) { Hold = hold; }
    // Closes every connection relayed so far, both of its sides; new ones are relayed as usual.
    void cutAll();
    int connections() const { return Accepted; }

private:
    struct TPair {
        QTcpSocket* Client = nullptr;
        std::unique_ptr<QTcpSocket> Server;
    };
    void OnNewConnection();

    QTcpServer Server;
    quint16 Target;
    bool Hold = false;
    int Accepted = 0;
    std::vector<std::unique_ptr<TPair>> Pairs;
};
