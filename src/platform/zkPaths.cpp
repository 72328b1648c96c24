#include "zkPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <unistd.h>

namespace zkPaths {

namespace {
QString fromEnvOr(const char* name, const QString& fallback) {
    const QByteArray value = qgetenv(name);
    // XDG says relative values are invalid and must be ignored.
    if (!value.isEmpty() && value.startsWith('/'))
        return QString::fromLocal8Bit(value);
    return fallback;
}
} // namespace

QString InstallationDir() {
    QString dir = QCoreApplication::applicationDirPath();
    if (dir.isEmpty())
        dir = QDir::currentPath();
    return dir;
}

bool EnsurePrivateDir(const QString& path) {
    QDir dir(path);
    if (!dir.exists() && !QDir().mkpath(path))
        return false;
    return QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QString ConfigDir() {
    return fromEnvOr("XDG_CONFIG_HOME", QDir::homePath() + QStringLiteral("/.config")) +
           QStringLiteral("/velquist");
}

QString DataDir() {
    return fromEnvOr("XDG_DATA_HOME", QDir::homePath() + QStringLiteral("/.local/share")) +
           QStringLiteral("/velquist");
}

QString RuntimeDir() {
    const QString runtime = fromEnvOr("XDG_RUNTIME_DIR", QString());
    if (!runtime.isEmpty())
        return runtime + QStringLiteral("/velquist");
    return QStringLiteral("/tmp/velquist-%1").arg(getuid());
}

} // namespace zkPaths
