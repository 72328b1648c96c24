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
#include <QWindow>

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
inline bool WaitExposed(const QList<QWidget*>& windows, int deadlineMs = 300000) {
    const QDeadlineTimer deadline(deadlineMs);
    for (;;) {
        QCoreApplication::processEvents();
        bool all = true;
        for (QWidget* w : windows)
            all = all && w->isVisible() && w->windowHandle() && w->windowHandle()->isExposed();
        if (all)
            return true;
        if (deadline.hasExpired())
            return false;
    }
}

} // namespace zkBenchHome
