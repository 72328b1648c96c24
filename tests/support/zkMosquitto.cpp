#include "zkMosquitto.h"

#include "zkClientProcess.h"
#include "zkTestSupport.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTcpSocket>
#include <QThread>

#include <pwd.h>
#include <unistd.h>

namespace {

// Elliptic-curve keys: made in milliseconds, where RSA keys take a good part of a second.
const QStringList KeyArguments = {
    QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
    QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};

QString CurrentUserName() {
    const passwd* entry = ::getpwuid(::geteuid());
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QStringLiteral("root");
}

} // namespace

bool TMosquitto::Run(const QString& program, const QStringList& arguments, QByteArray* out) {
    QProcess process;
    process.setWorkingDirectory(Dir.path());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished();
        Problem = program + QStringLiteral(" did not finish");
        return false;
    }
    const QByteArray output = process.readAll();
    if (out)
        *out = output;
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        Problem = program + QLatin1Char(' ') + arguments.join(QLatin1Char(' ')) +
                  QStringLiteral(" failed: ") + QString::fromLocal8Bit(output);
        return false;
    }
    return true;
}

TMosquitto::TMosquitto(bool tls, int serverDays) : Tls(tls) {
    const QString openssl = QStringLiteral("openssl");
    auto req = [&](const QStringList& more) {
        return Run(openssl, QStringList{QStringLiteral("req")} + KeyArguments + more);
    };
    WriteTextFile(Dir.path() + QStringLiteral("/server.ext"),
                  "subjectAltName=DNS:localhost,IP:127.0.0.1\n");
    const bool made =
        req({"-x509", "-days", "2", "-subj", "/CN=Velquist Test CA", "-keyout", "ca.key", "-out",
             "ca.crt"}) &&
        req({"-x509", "-days", "2", "-subj", "/CN=Another CA", "-keyout", "other-ca.key", "-out",
             "other-ca.crt"}) &&
        req({"-subj", "/CN=localhost", "-keyout", "server.key", "-out", "server.csr"}) &&
        Run(openssl, {"x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey", "ca.key",
                      "-CAcreateserial", "-days", QString::number(serverDays), "-extfile",
                      "server.ext", "-out", "server.crt"}) &&
        Run(QStringLiteral("mosquitto_passwd"),
            {"-c", "-b", "passwd", QString::fromLatin1(UserName), QString::fromLatin1(Password)});
    if (!made)
        return;
    Port = FreePort();
    QByteArray config = "listener " + QByteArray::number(Port) + " 127.0.0.1\n";
    if (Tls)
        config += "cafile ca.crt\ncertfile server.crt\nkeyfile server.key\n";
    // It would otherwise change to the user "mosquitto" when run as root, who cannot read here.
    config += "allow_anonymous false\npassword_file passwd\nuser " +
              CurrentUserName().toLocal8Bit() + "\n";
    // A slow subscriber loses nothing (past its 1,000 queued messages mosquitto would drop).
    config += "max_queued_messages 100000\n";
    // Into a file: a pipe nobody reads for a while would fill and stop the whole broker.
    config += "log_type all\nlog_dest file " + QFile::encodeName(Dir.path()) + "/mosquitto.log\n";
    WriteTextFile(Dir.path() + QStringLiteral("/mosquitto.conf"), config);
    Broker = std::make_unique<QProcess>();
    Broker->setWorkingDirectory(Dir.path());
    Broker->setProcessChannelMode(QProcess::MergedChannels);
    const QString program = FindProgram(QStringLiteral("mosquitto"));
    if (program.isEmpty()) {
        Problem =
            QStringLiteral("mosquitto is not installed (scripts/install-deps.sh installs it)");
        return;
    }
    Broker->start(program, {"-c", Dir.path() + "/mosquitto.conf"});
    if (!Broker->waitForStarted(5000)) {
        Problem = QStringLiteral("mosquitto did not start: ") + Broker->errorString();
        return;
    }
    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired() && Broker->state() == QProcess::Running) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, Port);
        if (probe.waitForConnected(200)) {
            Running = true;
            return;
        }
        QThread::msleep(20);
    }
    Problem = QStringLiteral("mosquitto did not listen: ") + QString::fromLocal8Bit(log());
}

TMosquitto::~TMosquitto() {
    if (Broker)
        StopProcess(*Broker);
}

QByteArray TMosquitto::log() {
    // A moment between two looks of a test that waits for a line.
    QThread::msleep(10);
    QFile file(Dir.path() + QStringLiteral("/mosquitto.log"));
    if (file.open(QIODevice::ReadOnly))
        return file.readAll();
    return Broker ? Broker->readAll() : QByteArray();
}

QStringList TMosquitto::clientArguments() const {
    QStringList arguments{"-h", "127.0.0.1",
                          "-p", QString::number(Port),
                          "-V", "5",
                          "-u", QString::fromLatin1(UserName),
                          "-P", QString::fromLatin1(Password)};
    if (Tls)
        arguments << "--cafile" << caFile();
    return arguments;
}

bool TMosquitto::publish(const QString& topic, const QByteArray& payload,
                         const QStringList& extra) const {
    QProcess pub;
    pub.start(QStringLiteral("mosquitto_pub"),
              clientArguments() + QStringList{"-q", "1", "-t", topic, "-s"} + extra);
    pub.write(payload);
    pub.closeWriteChannel();
    return pub.waitForFinished(20000) && pub.exitStatus() == QProcess::NormalExit &&
           pub.exitCode() == 0;
}

std::unique_ptr<QProcess> TMosquitto::startPublishing(const QString& topic,
                                                      const QList<QByteArray>& payloads) const {
    auto pub = std::make_unique<QProcess>();
    // -l: each line of its input is a message.
    pub->start(QStringLiteral("mosquitto_pub"),
               clientArguments() + QStringList{"-q", "1", "-t", topic, "-l"});
    pub->waitForStarted(5000);
    for (const QByteArray& payload : payloads)
        pub->write(payload + '\n');
    pub->closeWriteChannel();
    return pub;
}

TMosquittoSubscriber::TMosquittoSubscriber(const TMosquitto& broker, const QString& filter,
                                           int count)
    : Process(std::make_unique<QProcess>()),
      ClientId(QStringLiteral("test-sub-%1").arg(::getpid())) {
    Process->start(QStringLiteral("mosquitto_sub"),
                   broker.clientArguments() + QStringList{"-q", "1", "-v", "-i", ClientId, "-C",
                                                          QString::number(count), "-t", filter});
}

TMosquittoSubscriber::~TMosquittoSubscriber() {
    StopProcess(*Process);
}

bool TMosquittoSubscriber::waitSubscribed(TMosquitto& broker, int ms) {
    QDeadlineTimer deadline(ms);
    while (!broker.log().contains("Sending SUBACK to " + ClientId.toLatin1()))
        if (deadline.hasExpired() || Process->state() == QProcess::NotRunning)
            return false;
    return true;
}

QList<QByteArray> TMosquittoSubscriber::waitLines(int count, int ms) {
    QDeadlineTimer deadline(ms);
    while (Out.count('\n') < count && !deadline.hasExpired()) {
        Process->waitForReadyRead(100);
        Out += Process->readAllStandardOutput();
        if (Process->state() == QProcess::NotRunning) {
            Out += Process->readAllStandardOutput();
            break;
        }
    }
    QList<QByteArray> lines = Out.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

TBrokerSettings TMosquitto::DeskSettings(const QString& clientId) const {
    TBrokerSettings settings;
    settings.Enabled = true;
    settings.Host = QStringLiteral("127.0.0.1");
    settings.Port = port();
    settings.CAFile = caFile();
    settings.UserName = QString::fromLatin1(UserName);
    settings.Password = QString::fromLatin1(Password);
    settings.ClientId = clientId;
    return settings;
}
