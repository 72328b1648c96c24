#include "zkComponentRegistry.h"

#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QStringList>

namespace {

struct TRegistryState {
    QMutex Lock;
    bool Loaded = false;
    QHash<QString, QString> Versions; // identifier -> found version text
};

TRegistryState& State() {
    static TRegistryState state;
    return state;
}

void LoadDefaults(TRegistryState& state) {
    state.Versions.clear();
    state.Versions.insert(QString::fromLatin1(zkComponentLibraries::ZentrikWindow()),
                          QStringLiteral("4.3"));
    state.Versions.insert(QString::fromLatin1(zkComponentLibraries::GenericConnector()),
                          QStringLiteral("1.4"));
    const QString overrides = qEnvironmentVariable("VELQUIST_COMPONENT_VERSIONS");
    for (const QString& entry : overrides.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const qsizetype eq = entry.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString id = entry.left(eq).trimmed();
        const QString version = entry.mid(eq + 1).trimmed();
        if (version.isEmpty())
            state.Versions.remove(id);
        else
            state.Versions.insert(id, version);
    }
    state.Loaded = true;
}

TRegistryState& Loaded() {
    TRegistryState& state = State();
    if (!state.Loaded)
        LoadDefaults(state);
    return state;
}

} // namespace

void TComponentRegistry::Register(const QString& id, int major, int minor) {
    RegisterText(id, QStringLiteral("%1.%2").arg(major).arg(minor));
}

void TComponentRegistry::RegisterText(const QString& id, const QString& version) {
    QMutexLocker locker(&State().Lock);
    Loaded().Versions.insert(id, version);
}

void TComponentRegistry::Unregister(const QString& id) {
    QMutexLocker locker(&State().Lock);
    Loaded().Versions.remove(id);
}

QString TComponentRegistry::FoundVersion(const QString& id) {
    QMutexLocker locker(&State().Lock);
    return Loaded().Versions.value(id);
}

void TComponentRegistry::ResetToDefaults() {
    QMutexLocker locker(&State().Lock);
    LoadDefaults(State());
}
