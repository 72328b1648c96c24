// The inbox to the screen, whole process: the real client on Xvfb with openbox (a private X
// server, no session bus), its inbox on, ten inbox windows W0..W9 side by side; row_pixels.py
// (next to this file) watches them with the X DAMAGE extension and posts over loopback:
// p50/p99 from a POST's last byte to its window's pixels at 1,000 alerts/s, and the longest
// stall of the windows at 20,000 alerts/s, beside an HTTP echo round trip in the same run.
//   bench_row_pixels [--client PATH] [--alerts N (3000)] [--seconds S (10)]
// --client runs another build (a figure before a change).
#include "config/zkSettings.h"
#include "inbox/zkInboxSettings.h"
#include "zkBenchHttp.h"
#include "zkClientProcess.h"
#include "zkTestDesktop.h"
#include "zkTestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>

#include <cstdio>

using namespace zkBenchHttp;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString client = QStringLiteral(VELQUIST_BIN_DIR "/velquist");
    int alerts = 3000, seconds = 10;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--client"))
            client = args[++i];
        else if (args[i] == QLatin1String("--alerts"))
            alerts = std::max(100, args[++i].toInt());
        else if (args[i] == QLatin1String("--seconds"))
            seconds = std::max(1, args[++i].toInt());
    }
    TDesktop desktop;
    if (const QString problem = desktop.Start(); !problem.isEmpty()) {
        std::printf("no desktop: %s\n", qPrintable(problem));
        return 1;
    }
    TTestHome home;
    QTemporaryDir inst;
    QDir().mkpath(inst.filePath(QStringLiteral("SavedWindows")));
    if (!QFile::copy(client, inst.filePath(QStringLiteral("velquist")))) {
        std::printf("cannot copy %s\n", qPrintable(client));
        return 1;
    }
    StoreDeskChoices(inst.filePath(QStringLiteral("SavedWindows/desk.zkl")), false);
    const quint16 port = FreePort();
    TInboxSettings inbox;
    inbox.Enabled = true;
    inbox.Port = port;
    inbox.Token = QString::fromLatin1(Token);
    WriteInboxSettings(TSettingsStore::Registry(), inbox);
    QProcessEnvironment env = desktop.ClientEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
    TClientRun run(inst.filePath(QStringLiteral("velquist")), {}, inst.path(), env);
    if (!run.waitStarted() || !WaitListening(port, run)) {
        std::printf("the client did not start listening\n");
        return 1;
    }
    // One alert for each strategy opens its window.
    {
        TConnection c(port);
        c.Write(Post(Batch(0, 10, 5, 10)));
        if (c.ReadResponse() != 202) {
            std::printf("the first alerts were refused\n");
            return 1;
        }
    }
    QTcpServer echo;
    StartEcho(echo);
    QProcess probe;
    probe.setProcessChannelMode(QProcess::ForwardedChannels);
    QObject::connect(&probe, &QProcess::finished, &app, [&app](int code) { app.exit(code); });
    probe.start(QStringLiteral("/usr/bin/python3"),
                {QStringLiteral(VELQUIST_SOURCE_DIR "/bench/row_pixels.py"), desktop.Display,
                 QString::number(port), QString::fromLatin1(Token),
                 QString::number(echo.serverPort()), QStringLiteral("10"),
                 QString::number(alerts), QString::number(seconds)});
    std::printf("client %s on Xvfb + openbox, 10 inbox windows\n", qPrintable(client));
    std::fflush(stdout);
    const int code = app.exec();
    run.terminate();
    run.waitFinished(20000);
    return code;
}
