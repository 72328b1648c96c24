// A running desk for the web page's browser test, set up by the whole-process harness: the
// installed client with private folders, its inbox on, its broker set to the test's mosquitto
// (its plain listener) as the desk user, every new alert window publishing its alerts to the
// broker, and a velquist-link program linked to MAIN LIST. Talks over its standard streams:
//
//   velquist-web-desk PORT USER PASSWORD
//   out: "READY <desk name>" once all is up (or "FAILED <why>" and it ends)
//   in:  "POST <json>"  an alert posted to the client's inbox; out: "POSTED <HTTP status>"
//   out: "SYMBOL <symbol>" for each line the linked program printed
//   in:  "STDERR"       out: "STDERR <the client's stderr so far, in Base64>"
//
// It ends, with everything it started, when its input ends or on SIGTERM.
#include "config/zkBrokerSettings.h"
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "zkHarness.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QRandomGenerator>

#include <poll.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

namespace {

volatile std::sig_atomic_t Stop = 0;

void Say(const QByteArray& line) {
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

int Fail(const QString& why) {
    Say("FAILED " + why.toUtf8().replace('\n', ' '));
    return 1;
}

// A line of standard input when one is there within ms; nullopt at its end.
std::optional<QByteArray> ReadCommand(QByteArray& buffer, int ms) {
    pollfd fd{STDIN_FILENO, POLLIN, 0};
    if (::poll(&fd, 1, ms) > 0) {
        char chunk[4096];
        const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n <= 0)
            return std::nullopt;
        buffer.append(chunk, n);
    }
    const qsizetype newline = buffer.indexOf('\n');
    if (newline < 0)
        return QByteArray();
    const QByteArray line = buffer.left(newline);
    buffer.remove(0, newline + 1);
    return line;
}

} // namespace

int main(int argc, char** argv) {
    // Never the session bus of whoever runs the tests (the password would go to its keyring).
    qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4) {
        std::fprintf(stderr, "usage: velquist-web-desk PORT USER PASSWORD\n");
        return 2;
    }
    std::signal(SIGTERM, [](int) { Stop = 1; });
    std::signal(SIGPIPE, SIG_IGN);

    TWholeProcessHarness h;
    const QString layout = h.installDir() + QStringLiteral("/SavedWindows/desk.zkl");
    // Each new window publishes each of its alerts to the broker.
    WriteTextFile(h.installDir() + QStringLiteral("/SavedWindows/DEFAULT_WINDOW.zka"),
                  "[AlertWindow]\nAction0=1,6\nActionsCount=1\n");
    StoreDeskChoices(layout, false);
    TBrokerSettings broker;
    broker.Enabled = true;
    broker.Host = QStringLiteral("127.0.0.1"); // this machine: no TLS needed
    broker.Port = quint16(args[1].toUInt());
    broker.TLS = false;
    broker.UserName = args[2];
    broker.Password = args[3];
    broker.ClientId = NewBrokerClientId();
    WriteBrokerSettings(TSettingsStore::Registry(), broker);
    TUserStore::ResetInstance();
    const quint16 inbox =
        h.needInbox(QString::number(QRandomGenerator::global()->generate64(), 16).repeated(3));

    TClientRun& client = h.startClient();
    if (!client.waitStarted())
        return Fail(QStringLiteral("the client did not start"));
    if (!client.waitForStdErr("velquist: broker: Connected to", 30000) ||
        !WaitListening(inbox, client))
        return Fail(QStringLiteral("the client did not connect and listen: ") +
                    QString::fromUtf8(client.stdErr()));

    // The linked program finds the client by the installation it runs in.
    h.setWorkingDir(h.installDir());
    TClientRun* link = nullptr;
    for (QDeadlineTimer deadline(20000); !link && !deadline.hasExpired();) {
        TClientRun& tried = h.startProgram(QStringLiteral(VELQUIST_BIN_DIR "/velquist-link"),
                                           {QStringLiteral("MAIN LIST")});
        // One that ends at once found no client yet.
        if (tried.waitStarted() && !tried.waitFinished(1000))
            link = &tried;
    }
    if (!link)
        return Fail(QStringLiteral("velquist-link did not stay linked"));

    Say("READY " + broker.ClientId.toUtf8());
    QByteArray input;
    QByteArray linked;
    while (!Stop) {
        const std::optional<QByteArray> command = ReadCommand(input, 50);
        if (!command)
            break;
        if (command->startsWith("POST "))
            Say("POSTED " + QByteArray::number(h.postAlert(command->mid(5)).Status));
        else if (*command == "STDERR")
            Say("STDERR " + client.stdErr().toBase64());
        // The programs' pipes are read by the event loop (a full one would stop the client).
        app.processEvents();
        linked += link->process().readAllStandardOutput();
        for (qsizetype newline; (newline = linked.indexOf('\n')) >= 0;) {
            Say("SYMBOL " + linked.left(newline));
            linked.remove(0, newline + 1);
        }
        if (client.process().state() == QProcess::NotRunning)
            return Fail(QStringLiteral("the client ended: ") + QString::fromUtf8(client.stdErr()));
    }
    return 0;
}
