// The inbox to the screen, whole process: the real client on Xvfb with openbox (a private X
// server, no session bus), its inbox on, ten inbox windows W0..W9 side by side; row_pixels.py
// (next to this file) watches them with the X DAMAGE extension and posts over loopback:
// p50/p99 from a POST's last byte to its window's pixels at 1,000 alerts/s, and the longest
// stall of the windows at 20,000 alerts/s, beside an HTTP echo round trip in the same run.
//   bench_row_pixels [--client PATH] [--baseline PATH] [--alerts N (3000)] [--seconds S (10)]
// --client runs another build; --baseline runs that build first on the same desktop and prints
// the client's figures as ratios to it (a change measured before and after in one run). Every
// run first measures bench_bare_inbox (build it too), a one-thread Qt program that only answers
// and lists each posted alert: the floor of these figures on this stack and machine.
#include "config/zkInboxSettings.h"
#include "config/zkSettings.h"
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
#include <optional>

using namespace zkBenchHttp;

namespace {

constexpr const char* BareProgram = VELQUIST_BIN_DIR "/bench/bench_bare_inbox";

// What row_pixels.py measured, from its RESULT line.
struct TFigures {
    double EchoP50 = 0, P50 = 0, P99 = 0, Max = 0, Stall = 0, Answer = 0, FloodP50 = 0,
           FloodP99 = 0, EchoP99 = 0;
};

// One program on the desktop: the client started with its inbox on (or, bare, the baseline
// program listening), ten windows opened, the probe run.
std::optional<TFigures> Measure(QCoreApplication& app, TDesktop& desktop, TTestHome& home,
                                const QString& client, bool bare, int alerts, int seconds) {
    QDir(home.dataHome()).removeRecursively(); // no history from an earlier run
    QTemporaryDir inst;
    const quint16 port = FreePort();
    QProcessEnvironment env = desktop.ClientEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
    std::optional<TClientRun> run;
    if (bare) {
        run.emplace(client, QStringList{QString::number(port)}, inst.path(), env);
    } else {
        QDir().mkpath(inst.filePath(QStringLiteral("SavedWindows")));
        if (!QFile::copy(client, inst.filePath(QStringLiteral("velquist")))) {
            std::printf("cannot copy %s\n", qPrintable(client));
            return std::nullopt;
        }
        StoreDeskChoices(inst.filePath(QStringLiteral("SavedWindows/desk.zkl")), false);
        TInboxSettings inbox;
        inbox.Enabled = true;
        inbox.Port = port;
        inbox.Token = QString::fromLatin1(Token);
        WriteInboxSettings(TSettingsStore::Registry(), inbox);
        run.emplace(inst.filePath(QStringLiteral("velquist")), QStringList{}, inst.path(), env);
    }
    if (!run->waitStarted() || !WaitListening(port, *run)) {
        std::printf("%s did not start listening\n", qPrintable(client));
        return std::nullopt;
    }
    // One alert for each strategy opens its window.
    {
        TConnection c(port);
        c.Write(Post(Batch(0, 10, 5, 10)));
        if (c.ReadResponse() != 202) {
            std::printf("the first alerts were refused\n");
            return std::nullopt;
        }
    }
    QTcpServer echo;
    StartEcho(echo);
    QProcess probe;
    probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    std::optional<TFigures> figures;
    QObject::connect(&probe, &QProcess::readyReadStandardOutput, &app, [&] {
        while (probe.canReadLine()) {
            const QByteArray line = probe.readLine();
            if (!line.startsWith("RESULT ")) {
                std::fputs(line.constData(), stdout);
                continue;
            }
            const QList<QByteArray> v = line.mid(7).trimmed().split(' ');
            if (v.size() == 9)
                figures = TFigures{v[0].toDouble(), v[1].toDouble(), v[2].toDouble(),
                                   v[3].toDouble(), v[4].toDouble(), v[5].toDouble(),
                                   v[6].toDouble(), v[7].toDouble(), v[8].toDouble()};
        }
        std::fflush(stdout);
    });
    QObject::connect(&probe, &QProcess::finished, &app, [&app](int code) { app.exit(code); });
    probe.start(QStringLiteral("/usr/bin/python3"),
                {QStringLiteral(VELQUIST_SOURCE_DIR "/bench/row_pixels.py"), desktop.Display,
                 QString::number(port), QString::fromLatin1(Token),
                 QString::number(echo.serverPort()), QStringLiteral("10"), QString::number(alerts),
                 QString::number(seconds)});
    std::printf("%s %s on Xvfb + openbox, 10 inbox windows\n", bare ? "bare program" : "client",
                qPrintable(client));
    std::fflush(stdout);
    const int code = app.exec();
    run->terminate();
    run->waitFinished(20000);
    return code == 0 ? figures : std::nullopt;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString client = QStringLiteral(VELQUIST_BIN_DIR "/velquist");
    QString baseline;
    int alerts = 3000, seconds = 10;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--client"))
            client = args[++i];
        else if (args[i] == QLatin1String("--baseline"))
            baseline = args[++i];
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
    // The floor on this stack first: the least Qt program that shows a posted row, on the same
    // desktop and machine, so a loaded machine's scheduling is in both figures alike.
    const std::optional<TFigures> bare =
        Measure(app, desktop, home, QString::fromUtf8(BareProgram), true, alerts, seconds);
    if (!bare)
        return 1;
    std::optional<TFigures> before;
    if (!baseline.isEmpty() &&
        !(before = Measure(app, desktop, home, baseline, false, alerts, seconds)))
        return 1;
    const std::optional<TFigures> after =
        Measure(app, desktop, home, client, false, alerts, seconds);
    if (!after)
        return 1;
    auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
    auto compare = [&](const char* what, const TFigures& base) {
        std::printf("client / %s, same run: 1,000/s pixels p50 %.2fx, p99 %.2fx, max %.2fx; "
                    "20,000/s longest stall %.2fx, longest answer %.2fx, pixels p50 %.2fx, "
                    "p99 %.2fx\n",
                    what, ratio(after->P50, base.P50), ratio(after->P99, base.P99),
                    ratio(after->Max, base.Max), ratio(after->Stall, base.Stall),
                    ratio(after->Answer, base.Answer), ratio(after->FloodP50, base.FloodP50),
                    ratio(after->FloodP99, base.FloodP99));
    };
    QFile loadavg(QStringLiteral("/proc/loadavg"));
    if (loadavg.open(QIODevice::ReadOnly))
        std::printf("load average %s", loadavg.readLine().constData());
    std::printf("1,000/s pixels p99: client %.2f ms, bare program %.2f ms (floor), echo round "
                "trip p99 %.2f ms; goal 5 ms\n",
                after->P99, bare->P99, after->EchoP99);
    compare("bare program", *bare);
    if (before)
        compare("baseline build", *before);
    return 0;
}
