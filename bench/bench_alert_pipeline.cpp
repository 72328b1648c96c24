// The client's own cost of an alert: 50 alert windows, each with a sound, a raise and a send
// to a link list, take 100,000 alerts through the component's new-alert event; the idle step
// runs after each burst and the symbols go through the link broker to a linked program. Beside
// it, the same events delivered to an empty handler in the same run; the difference is what the
// client adds per alert.

#include "alerts/zkAlertActions.h"
#include "alerts/zkAlertForm.h"
#include "alerts/zkSoundPlayForm.h"
#include "alerts/zkSoundPlayer.h"
#include "components/zkComponentWrappers.h"
#include "components/zkSimConnector.h"
#include "components/zkSimFactory.h"
#include "config/zkSettings.h"
#include "linking/zkGenericConnectorForm.h"
#include "linking/zkLinkBroker.h"
#include "shell/zkMainForm.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "zkBenchDesk.h"

using zkBenchDesk::Fed;
using zkBenchDesk::TFedAlertWindow;

namespace {

constexpr int Windows = 50;
constexpr int Alerts = 100000;

// A linked program on its own thread: links to the list and counts the symbol lines.
class TLinkedProgram {
public:
    TLinkedProgram(const QString& path, const QByteArray& list) {
        Fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(path);
        std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
        if (::connect(Fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            std::perror("connect");
        const QByteArray line = "LINK " + list + '\n';
        if (::write(Fd, line.constData(), size_t(line.size())) != line.size())
            std::perror("write");
        Reader = std::thread([this] {
            char buffer[65536];
            ssize_t n;
            while ((n = ::read(Fd, buffer, sizeof buffer)) > 0)
                for (ssize_t i = 0; i < n; ++i)
                    Lines += buffer[i] == '\n';
        });
    }
    ~TLinkedProgram() {
        ::shutdown(Fd, SHUT_RDWR);
        Reader.join();
        ::close(Fd);
    }
    std::atomic<long> Lines{0};

private:
    int Fd = -1;
    std::thread Reader;
};

struct TRun {
    double Pipeline = 0; // us per alert
    double Baseline = 0;
};

std::vector<TAlertData> MakeAlerts() {
    std::vector<TAlertData> alerts;
    alerts.reserve(Alerts);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (int i = 0; i < Alerts; ++i)
        alerts.emplace_back(QStringLiteral("SYM%1").arg(i % 100), 0, now, 100.0 + i % 50,
                            QStringLiteral("Running up now"));
    return alerts;
}

// Fires every alert round the windows, runs the step after each burst and lets the event
// loop write what is pending.
template <typename Step>
double Feed(const std::vector<TFedAlertWindow*>& windows, std::vector<TAlertData>& alerts,
            int burst, Step step) {
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < Alerts; ++i) {
        windows[size_t(i % Windows)]->Fire(&alerts[size_t(i)]);
        if ((i + 1) % burst == 0) {
            step();
            QCoreApplication::processEvents();
        }
    }
    return double(clock.nsecsElapsed()) / 1000.0 / Alerts;
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    zkBenchDesk::PrepareEnvironment(home);
    QApplication app(argc, argv);
    std::vector<TFedAlertWindow*> fed;
    TZentrikProMainForm* main = zkBenchDesk::OpenDesk(home, Windows, true, fed);
    TLinkedProgram program(main->ConnectorForm->Broker()->Path(), "List");
    while (main->ConnectorForm->Broker()->LinkCount(QStringLiteral("List")) == 0)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);

    // The same events, to an empty handler.
    std::vector<std::unique_ptr<TZentrikWindowX>> bare;
    std::vector<TFedAlertWindow*> bareFed;
    int delivered = 0;
    for (int i = 0; i < Windows; ++i) {
        bare.push_back(std::make_unique<TZentrikWindowX>());
        Fed(bare.back().get())->SetNotifyOnEachAlert(true);
        QObject::connect(bare.back().get(), &TZentrikWindowX::OnNewAlert,
                         [&delivered](QObject*, IAlertData*) { ++delivered; });
        bareFed.push_back(Fed(bare.back().get()));
    }

    std::vector<TAlertData> alerts = MakeAlerts();
    std::printf("alert pipeline: %d windows (1,2,setup / 1,3 / 1,4,List), %d alerts, one "
                "linked program, platform %s\n",
                Windows, Alerts, qPrintable(QGuiApplication::platformName()));
    long expected = 0;
    for (int burst : {1, 10, 100}) {
        const double base = Feed(bareFed, alerts, burst, [] {});
        const double full = Feed(fed, alerts, burst, [main] { ProcessPendingActions(*main); });
        expected += Alerts;
        std::printf("  bursts of %-4d pipeline %7.3f us/alert   empty handler %7.3f us/alert   "
                    "client's own %7.3f us/alert\n",
                    burst, full, base, full - base);
    }
    // The raise's share: each raise activates another window, which is the window system's
    // work more than ours.
    for (TAlertForm* w : main->AlertWindows())
        w->SetActions({QStringLiteral("1,2,setup"), QStringLiteral("1,4,List")});
    for (int burst : {1, 10}) {
        const double base = Feed(bareFed, alerts, burst, [] {});
        const double full = Feed(fed, alerts, burst, [main] { ProcessPendingActions(*main); });
        expected += Alerts;
        std::printf("  without 1,3, bursts of %-4d pipeline %7.3f us/alert   client's own %7.3f "
                    "us/alert\n",
                    burst, full, full - base);
    }
    QElapsedTimer wait;
    wait.start();
    while (program.Lines < expected && wait.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::printf("  the linked program received %ld of %ld symbols; empty handler saw %d events\n",
                long(program.Lines), expected, delivered);
    // Judged before the main window goes: its end may still write to the linked program.
    const bool allReceived = program.Lines == expected;
    delete main;
    return allReceived ? 0 : 1;
}
