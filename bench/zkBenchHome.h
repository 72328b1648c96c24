#pragma once

// A private home for a benchmark: offscreen unless told otherwise, temporary XDG folders (a
// private runtime folder among them), the installation folder as working directory, scripted
// prompts and a stored user name, so the main window starts without asking anything.

#include "config/zkSettings.h"
#include "platform/zkPrompts.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QList>
#include <QTemporaryDir>
#include <QWidget>
#include <QTimer>
#include <QWindow>

#include <algorithm>

namespace zkBenchHome {

// Before the application object exists.
inline void SetEnvironment(const QTemporaryDir& home) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toLocal8Bit());
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", (home.path() + "/run").toLocal8Bit());
    QDir().mkpath(home.path() + "/run");
    QFile::setPermissions(home.path() + "/run",
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// Once the application object exists.
inline void EnterInstallation(const QTemporaryDir& install) {
    QDir::setCurrent(install.path());
    zkPrompts::SetScripted(true);
    WriteStringValue(TSettingsStore::Registry(), SettingsKeyPath() + QStringLiteral("\\Settings"),
                     QStringLiteral("UserName"), QStringLiteral("DEMO"));
}

// Handles events until every window is shown and exposed, or the deadline passes; false then.
// On X11 a window is exposed when the server's expose event for it has come in. It waits for
// events rather than spinning (the X server shares the cores), and looks at each window once
// as it comes in, so thousands of windows do not make the waiting itself quadratic.
inline bool WaitExposed(const QList<QWidget*>& windows, int deadlineMs = 300000) {
    const QDeadlineTimer deadline(deadlineMs);
    auto exposed = [](const QWidget* w) {
        return w->isVisible() && w->windowHandle() && w->windowHandle()->isExposed();
    };
    // Wakes the wait now and then, so the deadline is seen even when no event comes.
    QTimer wake;
    wake.start(100);
    qsizetype next = 0;
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        while (next < windows.size() && exposed(windows[next]))
            ++next;
        // Once all were seen, every one once more: none may have gone again meanwhile.
        if (next == windows.size() && std::all_of(windows.begin(), windows.end(), exposed))
            return true;
        if (next == windows.size())
            next = 0;
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

} // namespace zkBenchHome
