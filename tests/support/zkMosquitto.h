#pragma once

// A real MQTT broker for tests: mosquitto on a free loopback port with TLS (a CA and a server
// certificate made by openssl for "localhost" and 127.0.0.1) and a password file, and its
// command-line clients. Everything it starts ends with it.

#include "config/zkBrokerSettings.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

class TMosquitto {
public:
    static constexpr const char* UserName = "desk";
    static constexpr const char* Password = "s3cret pass";

    // tls false: a plain listener (the same user and password). serverDays: how long the
    // server's certificate is valid from now (-1: it expired yesterday).
    explicit TMosquitto(bool tls = true, int serverDays = 2);
    ~TMosquitto();
    // Started and listening; false (with Problem()) when a part is missing or failed.
    bool isRunning() const { return Running; }
    QString problem() const { return Problem; }
    quint16 port() const { return Port; }
    // The broker's process id (a test may stop and continue it).
    qint64 pid() const { return Broker ? Broker->processId() : 0; }
    QString caFile() const { return Dir.path() + QStringLiteral("/ca.crt"); }
    // A desk's settings for this broker: on, over TLS to 127.0.0.1, as the broker's user.
    TBrokerSettings DeskSettings(const QString& clientId) const;
    // A CA of its own that did not sign the server's certificate.
    QString otherCaFile() const { return Dir.path() + QStringLiteral("/other-ca.crt"); }
    QString dir() const { return Dir.path(); }

    // mosquitto_pub, QoS 1, MQTT 5; true when it exited 0.
    bool publish(const QString& topic, const QByteArray& payload,
                 const QStringList& extra = {}) const;
    // Starts one mosquitto_pub (QoS 1, MQTT 5) publishing each payload as a message, one after
    // another as fast as the broker takes them; the caller waits for it to finish.
    std::unique_ptr<QProcess> startPublishing(const QString& topic,
                                              const QList<QByteArray>& payloads) const;
    // The broker's log so far (for a failure's message).
    QByteArray log();

    // The arguments every client needs: host, port, TLS and the user.
    QStringList clientArguments() const;

private:
    bool Run(const QString& program, const QStringList& arguments, QByteArray* out = nullptr);

    QTemporaryDir Dir;
    std::unique_ptr<QProcess> Broker;
    quint16 Port = 0;
    bool Tls = true;
    bool Running = false;
    QString Problem;
};

// mosquitto_sub on the broker's topic filter, printing "topic payload" lines, until count
// messages came or the test ends.
class TMosquittoSubscriber {
public:
    TMosquittoSubscriber(const TMosquitto& broker, const QString& filter, int count);
    ~TMosquittoSubscriber();
    // Until it has subscribed (the broker says so in its log): what it gets after is complete.
    bool waitSubscribed(TMosquitto& broker, int ms = 10000);
    // Waits for the count of lines; the lines so far.
    QList<QByteArray> waitLines(int count, int ms = 20000);

private:
    std::unique_ptr<QProcess> Process;
    QByteArray Out;
    QString ClientId;
};
