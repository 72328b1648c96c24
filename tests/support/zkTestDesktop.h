#pragma once

// Real desktop parts for whole-process tests, each started by the test and ended with it:
// a private X server with openbox, a private D-Bus session bus, and a notification server of
// the tests' own on such a bus, or dunst on it.

#include "zkClientProcess.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLibraryInfo>
#include <QList>
#include <QProcess>
#include <QRect>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QXmlStreamReader>

#include <csignal>
#include <cstdio>
#include <sys/prctl.h>
#include <type_traits>

// The client as under GNOME with "Cantarell <points>" as its interface font: the desktop named
// GNOME, so Qt takes its GTK platform theme, which reads the font GTK is set to (GNOME's settings
// daemon hands GTK its font; here GTK's own settings file in configHome does). GTK needs a session
// bus: without one it would start one of its own that outlives the test.
inline void UseGnomeFont(QProcessEnvironment& env, const QString& configHome, int points,
                         const QString& busAddress) {
    QDir().mkpath(configHome + QStringLiteral("/gtk-3.0"));
    QFile settings(configHome + QStringLiteral("/gtk-3.0/settings.ini"));
    if (settings.open(QIODevice::WriteOnly | QIODevice::Truncate))
        settings.write("[Settings]\ngtk-font-name=Cantarell " + QByteArray::number(points) + "\n");
    env.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("GNOME"));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
    env.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("memory"));
    env.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
}

// What of the environment the tests run in would change the client's font or scale, but for
// what env sets (TClientRun unsets after it adds).
inline QStringList FontAndScaleVariables(const QProcessEnvironment& env) {
    QStringList unset;
    for (const char* name :
         {"QT_QPA_PLATFORMTHEME", "QT_FONT_DPI", "GTK_THEME", "QT_SCALE_FACTOR",
          "QT_SCREEN_SCALE_FACTORS", "QT_ENABLE_HIGHDPI_SCALING", "XDG_CURRENT_DESKTOP"})
        if (!env.contains(QString::fromLatin1(name)))
            unset << QString::fromLatin1(name);
    return unset;
}

// A private X server (first free display, found by the server itself) with openbox on it, or
// with no window manager at all (windows are then mapped and exposed as the client asks).
class TDesktop {
public:
    ~TDesktop() {
        StopProcess(WindowManager, 3000);
        StopProcess(Server, 3000);
    }
    // Empty when it is up; otherwise what is missing or went wrong. windowManagerArguments go
    // to openbox (a configuration file of the test's, say).
    QString Start(bool withWindowManager = true, const QStringList& windowManagerArguments = {}) {
        for (const char* tool : {"Xvfb", "openbox", "xwininfo"})
            if ((withWindowManager || qstrcmp(tool, "Xvfb") == 0) &&
                QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                return QStringLiteral("%1 is not installed (scripts/install-deps.sh installs it)")
                    .arg(QString::fromLatin1(tool));
        // Ended with whoever started it, even when that one is killed.
        Server.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        WindowManager.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        // -displayfd: the server picks a free display and writes its number to stdout.
        QStringList serverArguments = {QStringLiteral("-displayfd"),   QStringLiteral("1"),
                                       QStringLiteral("-screen"),      QStringLiteral("0"),
                                       QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"),
                                       QStringLiteral("tcp")};
        if (!ResetWhenIdle)
            serverArguments << QStringLiteral("-noreset");
        Server.start(QStringLiteral("Xvfb"), serverArguments);
        QDeadlineTimer deadline(15000);
        while (!Server.canReadLine() && !deadline.hasExpired() &&
               Server.state() != QProcess::NotRunning)
            Server.waitForReadyRead(200);
        const QByteArray number = Server.readLine().trimmed();
        if (number.isEmpty())
            return QStringLiteral("Xvfb did not start");
        Display = QStringLiteral(":") + QString::fromLatin1(number);
        if (!withWindowManager)
            return QString();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), Display);
        WindowManager.setProcessEnvironment(env);
        WindowManager.start(QStringLiteral("openbox"), windowManagerArguments);
        // openbox is ready once its own window is there.
        while (!Windows().contains(QStringLiteral("\"Openbox\""))) {
            if (deadline.hasExpired() || WindowManager.state() == QProcess::NotRunning)
                return QStringLiteral("openbox did not start");
            QThread::msleep(100);
        }
        return QString();
    }
    // xwininfo's list of every window with its name.
    QString Windows() const {
        QProcess info;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), Display);
        info.setProcessEnvironment(env);
        info.start(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")});
        info.waitForFinished(5000);
        return QString::fromUtf8(info.readAllStandardOutput());
    }
    // A window's client rectangle on the screen (inside the window manager's frame).
    QRect ClientRect(const QString& caption) const {
        QProcess info;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), Display);
        info.setProcessEnvironment(env);
        info.start(QStringLiteral("xwininfo"), {QStringLiteral("-name"), caption});
        info.waitForFinished(5000);
        const QString text = QString::fromUtf8(info.readAllStandardOutput());
        auto number = [&text](const char* label) {
            const QRegularExpression re(QString::fromLatin1(label) +
                                        QStringLiteral(":\\s+(-?\\d+)"));
            return re.match(text).captured(1).toInt();
        };
        return QRect(number("Absolute upper-left X"), number("Absolute upper-left Y"),
                     number("Width"), number("Height"));
    }
    // The whole screen as the user sees it. With VELQUIST_KEEP_SCREENSHOTS set to a folder, a
    // copy named keptName is left there for a look at what the test saw.
    QImage Screenshot(const QString& keptName = QString()) const {
        QTemporaryDir dir;
        const QString file = dir.path() + QStringLiteral("/screen.png");
        QProcess grab;
        grab.start(QStringLiteral("import"),
                   {QStringLiteral("-display"), Display, QStringLiteral("-window"),
                    QStringLiteral("root"), file});
        grab.waitForFinished(20000);
        if (!keptName.isEmpty() && !qEnvironmentVariableIsEmpty("VELQUIST_KEEP_SCREENSHOTS")) {
            const QString kept =
                qEnvironmentVariable("VELQUIST_KEEP_SCREENSHOTS") + u'/' + keptName;
            QFile::remove(kept);
            QFile::copy(file, kept);
        }
        return QImage(file);
    }
    // The names of the windows that are shown (mapped, framed by openbox).
    QStringList ShownCaptions() const {
        static const QRegularExpression named(QStringLiteral("^\\s+0x[0-9a-f]+ \"(.*)\": \\("));
        QStringList captions;
        for (const QString& line : Windows().split(QLatin1Char('\n'))) {
            const QRegularExpressionMatch m = named.match(line);
            // Top-level client windows sit one level below openbox's frames.
            if (m.hasMatch() && line.startsWith(QStringLiteral("        0x")))
                captions << m.captured(1);
        }
        return captions;
    }
    // The frames of the shown windows with that caption: openbox's frame windows sit right
    // below the root, each with its client window among its children.
    QList<QRect> Frames(const QString& caption) const {
        static const QRegularExpression geometry(
            QStringLiteral("\\s(\\d+)x(\\d+)\\+(-?\\d+)\\+(-?\\d+)\\s+\\+-?\\d+\\+-?\\d+$"));
        const QString named = QStringLiteral("\"%1\": (").arg(caption);
        QList<QRect> frames;
        QRect frame;
        for (const QString& text : Windows().split(QLatin1Char('\n'))) {
            const QRegularExpressionMatch m = geometry.match(text);
            if (text.startsWith(QStringLiteral("     0x")) && m.hasMatch())
                frame = QRect(m.captured(3).toInt(), m.captured(4).toInt(), m.captured(1).toInt(),
                              m.captured(2).toInt());
            else if (text.startsWith(QStringLiteral("        0x")) && text.contains(named))
                frames << frame;
        }
        return frames;
    }
    // A client's environment: drawn on this desktop (with no session bus unless the test gives
    // it one, as every client run has).
    QProcessEnvironment ClientEnvironment() const {
        QProcessEnvironment env;
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("DISPLAY"), Display);
        return env;
    }
    QString Display;
    // An X server resets (its keymap compiled again, 50-70 ms) whenever its last client goes,
    // and the next client to connect waits for that. A desktop's window manager and panels keep
    // it from ever happening; without a window manager here, one client after another each
    // paid it. Set before Start to have the server reset as it would.
    bool ResetWhenIdle = false;

private:
    QProcess Server;
    QProcess WindowManager;
};

// The exit code of this suite's program run again on a private Xvfb (no window manager, no
// session bus); 0 with "SKIP" said where Xvfb is not installed. Needs a QCoreApplication.
inline int RunAgainOnPrivateX() {
    TDesktop desktop;
    if (const QString problem = desktop.Start(false); !problem.isEmpty()) {
        std::printf("SKIP: %s\n", qPrintable(problem));
        return 0;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VELQUIST_TEST_ON_X"), QStringLiteral("1"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("DISPLAY"), desktop.Display);
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    child.start(QCoreApplication::applicationFilePath(), QCoreApplication::arguments().mid(1));
    if (!child.waitForFinished(120000)) {
        StopProcess(child, 3000);
        std::printf("FAIL: the suite on X did not finish\n");
        return 1;
    }
    return child.exitStatus() == QProcess::NormalExit ? child.exitCode() : 1;
}

// main() of a suite with cases that need a real X server's pixels: the offscreen cases here (none
// when OffscreenCases is void), then, when they passed, the program again on a private Xvfb,
// where it runs the XCases.
template <typename XCases, typename OffscreenCases = void>
int RunWithCasesOnX(int argc, char** argv) {
    QApplication app(argc, argv);
    if (qEnvironmentVariableIsSet("VELQUIST_TEST_ON_X")) {
        XCases cases;
        return QTest::qExec(&cases, argc, argv);
    }
    if constexpr (!std::is_void_v<OffscreenCases>) {
        OffscreenCases cases;
        if (const int failed = QTest::qExec(&cases, argc, argv))
            return failed;
    }
    return RunAgainOnPrivateX();
}

// A private Wayland compositor: headless weston, listening on a socket of its own in the
// runtime folder it is given (mode 0700, as weston insists: the harness's private one).
class TWaylandDesktop {
public:
    ~TWaylandDesktop() { StopProcess(Compositor, 3000); }
    // Empty when it is up; otherwise what is missing or went wrong.
    QString Start(const QString& runtimeDir, int width = 1280, int height = 1024) {
        if (QStandardPaths::findExecutable(QStringLiteral("weston")).isEmpty())
            return QStringLiteral("weston is not installed (scripts/install-deps.sh installs it)");
        if (!QFile::exists(QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                           QStringLiteral("/platforms/libqwayland-generic.so")))
            return QStringLiteral("Qt's Wayland platform is not installed (qt6-wayland; "
                                  "scripts/install-deps.sh installs it)");
        RuntimeDir = runtimeDir;
        Socket = QStringLiteral("velquist-test-%1").arg(QCoreApplication::applicationPid());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), RuntimeDir);
        Compositor.setProcessEnvironment(env);
        Compositor.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        Compositor.setProcessChannelMode(QProcess::MergedChannels);
        Compositor.start(QStringLiteral("weston"),
                         {QStringLiteral("--backend=headless-backend.so"),
                          QStringLiteral("--socket=") + Socket, QStringLiteral("--no-config"),
                          QStringLiteral("--idle-time=0"), QStringLiteral("--width=%1").arg(width),
                          QStringLiteral("--height=%1").arg(height)});
        // Up once its socket is there (it is made last, when the compositor takes clients).
        const QString path = RuntimeDir + QLatin1Char('/') + Socket;
        QDeadlineTimer deadline(15000);
        while (!QFile::exists(path)) {
            if (deadline.hasExpired() || Compositor.state() == QProcess::NotRunning)
                return QStringLiteral("weston did not start: ") +
                       QString::fromLocal8Bit(Compositor.readAll());
            QThread::msleep(50);
        }
        return QString();
    }
    // A client's environment: Qt's Wayland platform on this compositor (and no X display to
    // fall back to: leave DISPLAY out).
    QProcessEnvironment ClientEnvironment() const {
        QProcessEnvironment env;
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
        env.insert(QStringLiteral("WAYLAND_DISPLAY"), Socket);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), RuntimeDir);
        return env;
    }
    QString Socket;

private:
    QString RuntimeDir;
    QProcess Compositor;
};

// A private session bus: dbus-daemon with a configuration of its own (no service activation,
// so nothing the test did not start answers on it). Its address is what a client is given as
// DBUS_SESSION_BUS_ADDRESS.
class TSessionBus {
public:
    ~TSessionBus() { StopProcess(Daemon, 3000); }
    // Empty when it is up; otherwise what is missing or went wrong.
    QString Start() {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
            return QStringLiteral("dbus-daemon is not installed (scripts/install-deps.sh "
                                  "installs dbus)");
        const QString config = Dir.path() + QStringLiteral("/session.conf");
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly))
            return QStringLiteral("cannot write %1").arg(config);
        file.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
                   "1.0//EN\" \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                   "<busconfig><type>session</type><listen>unix:dir=" +
                   Dir.path().toUtf8() +
                   "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                   "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                   "<allow own=\"*\"/></policy></busconfig>\n");
        file.close();
        Daemon.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        Daemon.start(QStringLiteral("dbus-daemon"),
                     {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                      QStringLiteral("--print-address=1")});
        QDeadlineTimer deadline(10000);
        while (!Daemon.canReadLine() && !deadline.hasExpired() &&
               Daemon.state() != QProcess::NotRunning)
            Daemon.waitForReadyRead(200);
        Address = QString::fromUtf8(Daemon.readLine().trimmed());
        return Address.isEmpty() ? QStringLiteral("dbus-daemon did not start") : QString();
    }
    QString Address;

private:
    QTemporaryDir Dir;
    QProcess Daemon;
};

// The tests' notification server (tests/helpers/notification_recorder.cpp) on a bus: the
// Notify calls it took, and the signals it sends on request.
class TNotificationRecorder {
public:
    ~TNotificationRecorder() {
        Server.closeWriteChannel(); // it ends when its input closes
        if (!Server.waitForFinished(3000))
            StopProcess(Server, 3000);
    }
    // Empty when it owns the name on the bus. A server given a delay answers each Notify
    // that many milliseconds after it shows it; a plain one reads no markup in the body.
    QString Start(const QString& busAddress, int delayMs = 0, bool plain = false) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
        Server.setProcessEnvironment(env);
        Server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QStringList arguments;
        if (delayMs > 0)
            arguments << QStringLiteral("--delay") << QString::number(delayMs);
        if (plain)
            arguments << QStringLiteral("--plain");
        Server.start(QStringLiteral(VELQUIST_NOTIFICATION_RECORDER), arguments);
        QDeadlineTimer deadline(10000);
        while (!Output.contains("ready ") && !deadline.hasExpired() &&
               Server.state() != QProcess::NotRunning) {
            Server.waitForReadyRead(200);
            Output += Server.readAllStandardOutput();
        }
        return Output.contains("ready ")
                   ? QString()
                   : QStringLiteral("the notification recorder did not start");
    }
    // Every Notify call so far, oldest first.
    QList<QJsonObject> Calls() {
        Server.waitForReadyRead(50);
        Output += Server.readAllStandardOutput();
        QList<QJsonObject> calls;
        for (const QByteArray& line : Output.split('\n'))
            if (line.startsWith('{'))
                calls << QJsonDocument::fromJson(line).object();
        return calls;
    }
    // Waits until there are at least count calls; false on timeout.
    bool WaitForCalls(qsizetype count, int ms = 15000) {
        QDeadlineTimer deadline(ms);
        while (Calls().size() < count)
            if (deadline.hasExpired())
                return false;
        return true;
    }
    // The user clicks notification id (its default action).
    void Invoke(uint id) { Command("invoke " + QByteArray::number(id) + " default\n"); }
    void Close(uint id) { Command("close " + QByteArray::number(id) + "\n"); }
    QByteArray Output;

private:
    // Written through at once: the test waits on other processes, not in an event loop.
    void Command(const QByteArray& line) {
        Server.write(line);
        Server.waitForBytesWritten(3000);
    }
    QProcess Server;
};

// dunst, a real notification server, on a bus and an X display, set as Debian sets it up (it
// reads markup in the body, shows the summary as plain text). What it showed is read from its
// history.
class TDunst {
public:
    ~TDunst() { StopProcess(Server, 3000); }
    // Empty when it owns the name on the bus.
    QString Start(const QString& busAddress, const QString& display) {
        for (const char* tool : {"dunst", "dunstctl"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                return QStringLiteral(
                           "%1 is not installed (scripts/install-deps.sh installs dunst)")
                    .arg(QString::fromLatin1(tool));
        Env = QProcessEnvironment::systemEnvironment();
        Env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
        Env.insert(QStringLiteral("DISPLAY"), display);
        Env.insert(QStringLiteral("HOME"), Dir.path()); // no user's dunstrc
        const QString config = Dir.path() + QStringLiteral("/dunstrc");
        // As Debian's own dunstrc sets it: markup read in the body.
        if (QFile file(config);
            !file.open(QIODevice::WriteOnly) || !file.write("[global]\n    markup = full\n"))
            return QStringLiteral("cannot write %1").arg(config);
        Server.setProcessEnvironment(Env);
        Server.setProcessChannelMode(QProcess::MergedChannels);
        Server.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        Server.start(QStringLiteral("dunst"), {QStringLiteral("-config"), config});
        QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired() && Server.state() != QProcess::NotRunning) {
            if (Control({QStringLiteral("is-paused")}).trimmed() == "false")
                return QString();
            QThread::msleep(100);
        }
        return QStringLiteral("dunst did not start: ") + QString::fromUtf8(Server.readAll());
    }
    // Each notification dunst showed, newest first, as the text on screen (its markup read):
    // the summary's line, a line break and the body. Closes those still shown, since only
    // closed ones are in the history; waits up to ms for at least count.
    QStringList Shown(qsizetype count, int ms = 15000) {
        QDeadlineTimer deadline(ms);
        QStringList shown;
        while (true) {
            Control({QStringLiteral("close-all")});
            shown.clear();
            const QJsonObject history =
                QJsonDocument::fromJson(Control({QStringLiteral("history")})).object();
            for (const QJsonValue& n : history[QStringLiteral("data")].toArray().at(0).toArray())
                shown << ReadMarkup(
                    n[QStringLiteral("message")][QStringLiteral("data")].toString());
            if (shown.size() >= count || deadline.hasExpired())
                return shown;
            QThread::msleep(200);
        }
    }

private:
    QByteArray Control(const QStringList& arguments) {
        QProcess tool;
        tool.setProcessEnvironment(Env);
        tool.start(QStringLiteral("dunstctl"), arguments);
        tool.waitForFinished(5000);
        return tool.readAllStandardOutput();
    }
    // The text Pango markup shows: tags gone, entities read.
    static QString ReadMarkup(const QString& markup) {
        QXmlStreamReader reader(QStringLiteral("<m>") + markup + QStringLiteral("</m>"));
        reader.readNextStartElement();
        const QString text = reader.readElementText(QXmlStreamReader::IncludeChildElements);
        return reader.hasError() ? QStringLiteral("(not markup) ") + markup : text;
    }
    QTemporaryDir Dir;
    QProcessEnvironment Env;
    QProcess Server;
};
