// How long a linked program waits for a symbol: 1,000 alerts a second go through the alert
// windows' actions, the idle step (the real one, on the event loop running dry) and the link
// broker. Two programs receive them: velquist-link (the symbols read from its standard output)
// and a bare socket reader. Each symbol carries the monotonic time its alert was raised at;
// the percentiles of the receive delays are printed.

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
#include <QEventLoop>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

#include "zkBenchDesk.h"

using zkBenchDesk::Fed;
using zkBenchDesk::TFedAlertWindow;

namespace {

constexpr int Windows = 50;
constexpr int AlertsPerSecond = 1000;
constexpr int Seconds = 10;

long long MonotonicNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}

class TReceiver {
public:
    TReceiver(int fd, const char* prefix) : Fd(fd), Prefix(prefix) {
        Thread = std::thread([this] { Run(); });
    }
    ~TReceiver() { Join(); }
    void Join() {
        if (Thread.joinable())
            Thread.join();
    }
    std::vector<double> DelaysMs() {
        std::lock_guard<std::mutex> lock(Lock);
        return Delays;
    }

private:
    void Run() {
        std::string partial;
        char buffer[65536];
        ssize_t n;
        while ((n = ::read(Fd, buffer, sizeof buffer)) > 0) {
            const long long now = MonotonicNs();
            partial.append(buffer, size_t(n));
            size_t start = 0, newline;
            while ((newline = partial.find('\n', start)) != std::string::npos) {
                const std::string line = partial.substr(start, newline - start);
                start = newline + 1;
                const size_t at = line.find(Prefix);
                if (at == std::string::npos)
                    continue;
                const long long raised = std::atoll(line.c_str() + at + std::strlen(Prefix));
                std::lock_guard<std::mutex> lock(Lock);
                Delays.push_back(double(now - raised) / 1e6);
            }
            partial.erase(0, start);
        }
    }
    int Fd;
    const char* Prefix;
    std::thread Thread;
    std::mutex Lock;
    std::vector<double> Delays;
};

int ConnectTo(const QString& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        std::perror("connect");
    return fd;
}

void Report(const char* who, std::vector<double> delays, int sent) {
    if (delays.empty()) {
        std::printf("  %-22s received nothing of %d\n", who, sent);
        return;
    }
    std::sort(delays.begin(), delays.end());
    const auto at = [&delays](double q) { return delays[size_t(q * double(delays.size() - 1))]; };
    std::printf("  %-22s %6zu of %d   p50 %6.3f ms   p99 %6.3f ms   p99.9 %6.3f ms   max "
                "%6.3f ms\n",
                who, delays.size(), sent, at(0.5), at(0.99), at(0.999), delays.back());
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    zkBenchDesk::PrepareEnvironment(home);
    QApplication app(argc, argv);
    std::vector<TFedAlertWindow*> fed;
    TZentrikProMainForm* main = zkBenchDesk::OpenDesk(home, Windows, false, fed);
    const QString socket = main->ConnectorForm->Broker()->Path();

    // The bare reader.
    const int bare = ConnectTo(socket);
    const char link[] = "LINK List\n";
    if (::write(bare, link, sizeof link - 1) != sizeof link - 1)
        std::perror("write");
    TReceiver bareReceiver(bare, "SYMBOL T");

    // velquist-link, its standard output into a pipe.
    const QByteArray tool = QByteArray(VELQUIST_BIN_DIR) + "/velquist-link";
    std::unique_ptr<TReceiver> toolReceiver;
    pid_t toolPid = -1;
    int expectedLinks = 1;
    if (QFileInfo(QString::fromLocal8Bit(tool)).isExecutable()) {
        int pipeFds[2];
        if (::pipe(pipeFds) != 0)
            std::perror("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
        const QByteArray socketArg = QFile::encodeName(socket);
        char* args[] = {const_cast<char*>(tool.constData()), const_cast<char*>("--socket"),
                        const_cast<char*>(socketArg.constData()), const_cast<char*>("List"),
                        nullptr};
        if (posix_spawn(&toolPid, tool.constData(), &actions, nullptr, args, environ) == 0)
            expectedLinks = 2;
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipeFds[1]);
        toolReceiver = std::make_unique<TReceiver>(pipeFds[0], "T");
    } else {
        std::printf("  (velquist-link is not built; only the bare reader runs)\n");
    }
    QElapsedTimer wait;
    wait.start();
    while (main->ConnectorForm->Broker()->LinkCount(QStringLiteral("List")) < expectedLinks &&
           wait.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);

    // One alert a millisecond, round the windows, each symbol the time it was raised.
    const int total = AlertsPerSecond * Seconds;
    int fired = 0;
    QEventLoop loop;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        // Catch up when a tick came late, so the rate stays 1,000 a second.
        const qint64 due = std::min<qint64>(total, clock.nsecsElapsed() / 1000000 + 1);
        while (fired < due) {
            TAlertData alert(QStringLiteral("T%1").arg(MonotonicNs()), 0);
            fed[size_t(fired % Windows)]->Fire(&alert);
            ++fired;
        }
        if (fired >= total) {
            ticker.stop();
            QTimer::singleShot(500, &loop, &QEventLoop::quit);
        }
    });
    ticker.start(1);
    loop.exec();
    const double seconds = double(clock.nsecsElapsed()) / 1e9;

    std::printf("link latency: %d alerts at %d a second (%.2f s), %d windows "
                "(1,2,setup / 1,3 / 1,4,List)\n",
                total, AlertsPerSecond, seconds, Windows);
    delete main; // closes the broker, which ends both readers
    bareReceiver.Join();
    Report("bare socket reader", bareReceiver.DelaysMs(), total);
    if (toolReceiver) {
        toolReceiver->Join();
        Report("velquist-link stdout", toolReceiver->DelaysMs(), total);
        int status = 0;
        ::waitpid(toolPid, &status, 0);
    }
    ::close(bare);
    return 0;
}
