#include "zkHarness.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QThread>

TWholeProcessHarness::TWholeProcessHarness()
    : Home(std::make_unique<TTestHome>()), Install(std::make_unique<TTestInstallation>()) {
    // Nothing is started yet; without the client there is nothing to test.
    if (!Install->isValid())
        qFatal("the built client could not be copied into a temporary installation");
}

TWholeProcessHarness::~TWholeProcessHarness() {
    // The clients first, newest first: none may outlive the parts it runs among.
    while (!Clients.empty())
        Clients.pop_back();
    Reader.reset();
    Dunst.reset();
    Recorder.reset();
    Keyring.reset();
    Broker.reset();
    Audio.reset();
    Weston.reset();
    Desktop.reset();
    Bus.reset();
    Install.reset();
    Home.reset();
}

QString TWholeProcessHarness::needSessionBus() {
    if (Bus)
        return Bus->Address.isEmpty() ? QStringLiteral("the session bus did not start") : QString();
    Bus = std::make_unique<TSessionBus>();
    return Bus->Start();
}

QString TWholeProcessHarness::needDesktop(bool withWindowManager, const QStringList& wmArguments) {
    if (Desktop)
        return Desktop->Display.isEmpty() ? QStringLiteral("the desktop did not start") : QString();
    Desktop = std::make_unique<TDesktop>();
    const QString problem = Desktop->Start(withWindowManager, wmArguments);
    if (!problem.isEmpty())
        Desktop->Display.clear();
    return problem;
}

QString TWholeProcessHarness::needWeston() {
    if (Weston)
        return Weston->Socket.isEmpty() ? QStringLiteral("weston did not start") : QString();
    Weston = std::make_unique<TWaylandDesktop>();
    const QString problem = Weston->Start(Home->runtimeDir());
    if (!problem.isEmpty())
        Weston->Socket.clear();
    return problem;
}

QString TWholeProcessHarness::needScreenReader() {
    if (Reader)
        return Reader->Address.isEmpty() ? QStringLiteral("the screen reader did not start")
                                         : QString();
    QString problem = needDesktop();
    if (problem.isEmpty())
        problem = needSessionBus();
    if (!problem.isEmpty())
        return problem;
    Reader = std::make_unique<TScreenReader>();
    problem = Reader->Start(*Bus, *Desktop);
    if (!problem.isEmpty())
        Reader->Address.clear();
    return problem;
}

QString TWholeProcessHarness::needDunst() {
    if (Dunst)
        return QString();
    QString problem = needDesktop();
    if (problem.isEmpty())
        problem = needSessionBus();
    if (!problem.isEmpty())
        return problem;
    Dunst = std::make_unique<TDunst>();
    return Dunst->Start(Bus->Address, Desktop->Display);
}

QString TWholeProcessHarness::needNotificationRecorder(int delayMs, bool plain) {
    if (Recorder)
        return QString();
    const QString problem = needSessionBus();
    if (!problem.isEmpty())
        return problem;
    Recorder = std::make_unique<TNotificationRecorder>();
    return Recorder->Start(Bus->Address, delayMs, plain);
}

QString TWholeProcessHarness::needKeyring() {
    if (Keyring)
        return QString();
    const QString problem = needSessionBus();
    if (!problem.isEmpty())
        return problem;
    Keyring = std::make_unique<TTestKeyring>();
    return Keyring->Start(Bus->Address, *Home);
}

QString TWholeProcessHarness::needAudio() {
    if (Audio)
        return QString();
    if (!TPulseDaemon::Installed())
        return QStringLiteral("PulseAudio is not installed (scripts/install-deps.sh installs "
                              "pulseaudio)");
    Audio = std::make_unique<TPulseDaemon>(Home->path() + QStringLiteral("/audio"));
    return Audio->start() ? QString() : QStringLiteral("PulseAudio did not start");
}

QString TWholeProcessHarness::needBroker(bool tls, int serverDays) {
    if (!Broker)
        Broker = std::make_unique<TMosquitto>(tls, serverDays);
    return Broker->isRunning() ? QString() : Broker->problem();
}

quint16 TWholeProcessHarness::needInbox(const QString& token) {
    if (InboxPort == 0)
        InboxPort = FreePort();
    InboxToken = token;
    StoreInboxChoices(InboxPort, token);
    return InboxPort;
}

QProcessEnvironment TWholeProcessHarness::clientEnvironment() const {
    QProcessEnvironment env;
    env.insert(QStringLiteral("HOME"), Home->path());
    if (Desktop && !Desktop->Display.isEmpty())
        env = [&] {
            QProcessEnvironment drawn = Reader && !Reader->Address.isEmpty()
                                            ? Reader->ClientEnvironment(*Desktop)
                                            : Desktop->ClientEnvironment();
            drawn.insert(env);
            return drawn;
        }();
    if (Weston && !Weston->Socket.isEmpty())
        env.insert(Weston->ClientEnvironment());
    if (Bus && !Bus->Address.isEmpty())
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), Bus->Address);
    if (Audio)
        env.insert(QStringLiteral("PULSE_SERVER"), Audio->serverAddress());
    return env;
}

TClientRun& TWholeProcessHarness::startProgram(const QString& program, const QStringList& arguments,
                                               const QProcessEnvironment& extra,
                                               const QStringList& unset) {
    QProcessEnvironment env = clientEnvironment();
    env.insert(extra);
    QStringList out = unset;
    // Without a desktop of the test's, no display of whoever runs the tests either.
    if (!env.contains(QStringLiteral("DISPLAY")))
        out << QStringLiteral("DISPLAY");
    if (!env.contains(QStringLiteral("WAYLAND_DISPLAY")))
        out << QStringLiteral("WAYLAND_DISPLAY");
    Clients.push_back(std::make_unique<TClientRun>(program, arguments, WorkingDir, env, out));
    return *Clients.back();
}

TClientRun& TWholeProcessHarness::startClient(const QStringList& arguments,
                                              const QProcessEnvironment& extra,
                                              const QStringList& unset) {
    return startProgram(Install->clientPath(), arguments, extra, unset);
}

THttpAnswer TWholeProcessHarness::postAlert(const QByteArray& json) const {
    return PostJson(InboxPort, "/alerts/" + InboxToken.toUtf8(), json);
}

bool TWholeProcessHarness::waitShown(const QStringList& captions, TClientRun& client,
                                     int ms) const {
    if (!Desktop)
        return false;
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired() && client.process().state() != QProcess::NotRunning) {
        const QStringList shown = Desktop->ShownCaptions();
        if (std::all_of(captions.begin(), captions.end(),
                        [&shown](const QString& c) { return shown.contains(c); }))
            return true;
        QThread::msleep(100);
    }
    return false;
}

QImage TWholeProcessHarness::screenshot(const QString& keptName) const {
    return Desktop ? Desktop->Screenshot(keptName) : QImage();
}
