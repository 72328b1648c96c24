#include "zkSettings.h"

#include "zkIniFile.h"
#include "zkUserStore.h"

#include "platform/zkErrors.h"

#include <QtEndian>

#include <cstdio>
#include <cstring>

namespace {

QString& KeyPath() {
    static QString path = QString::fromLatin1(DefaultSettingsKeyPath());
    return path;
}

// A failing database turns a read into its default and drops a write, as a missing or
// unwritable key does; the user hears of it once on stderr. Inside a batch the store also
// remembers the failure, so the batch's commit raises.
void ReportStoreError(const EStoreError& error) {
    static bool reported = false;
    if (reported)
        return;
    reported = true;
    std::fprintf(stderr, "velquist: %s\n", error.message().toLocal8Bit().constData());
}

bool GetStored(const TSettingsStore& store, const QString& path, const QString& name,
               TValueKind kind, TStoreValue& value) {
    try {
        return store.userStore().GetValue(path, name, value) && value.Kind == kind;
    } catch (const EStoreError& error) {
        ReportStoreError(error);
        return false;
    }
}

void SetStored(const TSettingsStore& store, const QString& path, const QString& name,
               const TStoreValue& value) {
    try {
        store.userStore().SetValue(path, name, value);
    } catch (const EStoreError& error) {
        ReportStoreError(error);
    }
}

} // namespace

TSettingsStore TSettingsStore::Registry() {
    return TSettingsStore();
}

TSettingsStore TSettingsStore::Registry(TUserStore& store) {
    TSettingsStore result;
    result.Store = &store;
    return result;
}

TSettingsStore TSettingsStore::IniFile(const QString& fileName) {
    TSettingsStore result;
    result.Kind = TKind::IniFile;
    result.FileName = fileName;
    return result;
}

TUserStore& TSettingsStore::userStore() const {
    return Store ? *Store : TUserStore::Instance();
}

QString SettingsKeyPath() {
    return KeyPath();
}

QString SettingsValuesPath() {
    return KeyPath() + QStringLiteral("\\Settings");
}

void SetSettingsKeyPath(const QString& path) {
    KeyPath() = path;
}

// ---------------------------------------------------------------------------------------------

int32_t ReadIntegerValue(const TSettingsStore& store, const QString& path, const QString& name,
                         int32_t def) {
    if (store.isIniFile()) {
        const std::optional<QString> text = zkIni::ReadValue(store.fileName(), path, name);
        int32_t value = 0;
        return text && TryParseIntegerText(*text, value) ? value : def;
    }
    TStoreValue value;
    return GetStored(store, path, name, TValueKind::Dword, value) ? int32_t(value.Number) : def;
}

void WriteIntegerValue(const TSettingsStore& store, const QString& path, const QString& name,
                       int32_t value) {
    if (store.isIniFile())
        zkIni::WriteValue(store.fileName(), path, name, QString::number(value));
    else
        SetStored(store, path, name, TStoreValue::Dword(value));
}

QString ReadStringValue(const TSettingsStore& store, const QString& path, const QString& name,
                        const QString& def) {
    if (store.isIniFile())
        return zkIni::ReadValue(store.fileName(), path, name).value_or(def);
    TStoreValue value;
    return GetStored(store, path, name, TValueKind::Sz, value) ? value.Text : def;
}

void WriteStringValue(const TSettingsStore& store, const QString& path, const QString& name,
                      const QString& text) {
    if (store.isIniFile())
        zkIni::WriteValue(store.fileName(), path, name, text);
    else
        SetStored(store, path, name, TStoreValue::Sz(text));
}

bool ReadBoolValue(const TSettingsStore& store, const QString& path, const QString& name,
                   bool def) {
    return ReadIntegerValue(store, path, name, def ? 1 : 0) != 0;
}

void WriteBoolValue(const TSettingsStore& store, const QString& path, const QString& name,
                    bool value) {
    WriteIntegerValue(store, path, name, value ? 1 : 0);
}

double ReadFloatValue(const TSettingsStore& store, const QString& path, const QString& name,
                      double def) {
    if (store.isIniFile()) {
        const std::optional<QString> text = zkIni::ReadValue(store.fileName(), path, name);
        double value = 0;
        return text && TryParseFloatText(*text, value) ? value : def;
    }
    TStoreValue value;
    if (!GetStored(store, path, name, TValueKind::Binary, value) || value.Bytes.size() != 8)
        return def;
    return qFromLittleEndian<double>(value.Bytes.constData());
}

void WriteFloatValue(const TSettingsStore& store, const QString& path, const QString& name,
                     double value) {
    if (store.isIniFile()) {
        zkIni::WriteValue(store.fileName(), path, name, FormatFloatText(value));
        return;
    }
    QByteArray bytes(8, Qt::Uninitialized);
    qToLittleEndian(value, bytes.data());
    SetStored(store, path, name, TStoreValue::Binary(bytes));
}

bool ReadStoredText(const TSettingsStore& store, const QString& path, const QString& name,
                    QString& text) {
    TStoreValue value;
    try {
        if (!store.userStore().GetValue(path, name, value))
            return false;
    } catch (const EStoreError& error) {
        ReportStoreError(error);
        return false;
    }
    if (value.Kind != TValueKind::Sz && value.Kind != TValueKind::ExpandSz)
        return false;
    text = value.Text;
    return true;
}

void DeleteStoredValue(const TSettingsStore& store, const QString& path, const QString& name) {
    try {
        store.userStore().DeleteValue(path, name);
    } catch (const EStoreError& error) {
        ReportStoreError(error);
    }
}

// ---------------------------------------------------------------------------------------------

bool SectionExists(const TSettingsStore& store, const QString& path) {
    if (store.isIniFile())
        return zkIni::SectionExists(store.fileName(), path);
    try {
        return store.userStore().KeyExists(path);
    } catch (const EStoreError& error) {
        ReportStoreError(error);
        return false;
    }
}

QStringList ReadSectionKeys(const TSettingsStore& store, const QString& path) {
    if (store.isIniFile())
        return zkIni::SectionKeys(store.fileName(), path);
    try {
        return store.userStore().ValueNames(path);
    } catch (const EStoreError& error) {
        ReportStoreError(error);
        return {};
    }
}

void EraseSection(const TSettingsStore& store, const QString& path) {
    if (store.isIniFile()) {
        zkIni::EraseSection(store.fileName(), path);
        return;
    }
    try {
        store.userStore().DeleteKey(path);
    } catch (const EStoreError& error) {
        ReportStoreError(error);
    }
}

// ---------------------------------------------------------------------------------------------

struct TSettingsBatch::TImpl {
    TUserStore* Store = nullptr; // the per-user store, or none for an INI file
    QString Path;                // the INI file's absolute name
    QString FileName;            // and as the caller named it, for messages
    bool Done = false;
};

TSettingsBatch::TSettingsBatch(const TSettingsStore& store) : Impl(std::make_unique<TImpl>()) {
    if (store.isIniFile()) {
        Impl->FileName = store.fileName();
        Impl->Path = zkIni::AbsoluteFileName(store.fileName());
        zkIni::BeginBatch(Impl->Path);
    } else {
        Impl->Store = &store.userStore();
        Impl->Store->BeginBatch();
    }
}

TSettingsBatch::~TSettingsBatch() {
    if (Impl->Done)
        return;
    try {
        if (Impl->Store)
            Impl->Store->RollbackBatch();
        else
            zkIni::RollbackBatch(Impl->Path);
    } catch (const EZkError&) {
        // Leaving the scope by an error already: the rollback's own failure adds nothing.
    }
}

void TSettingsBatch::Commit() {
    if (Impl->Done)
        return;
    Impl->Done = true;
    if (Impl->Store)
        Impl->Store->CommitBatch();
    else
        zkIni::CommitBatch(Impl->Path, Impl->FileName);
}

// ---------------------------------------------------------------------------------------------

void ReadUpdateSchedule(const TSettingsStore& store, const QString& path, TUpdateSchedule& record) {
    record.UpdateAtStartup = ReadBoolValue(store, path, QStringLiteral("UpdateAtStartup"), true);
    record.UpdateAtTime = ReadBoolValue(store, path, QStringLiteral("UpdateAtTime"), true);
    record.UpdateSchedule =
        uint8_t(ReadIntegerValue(store, path, QStringLiteral("UpdateSchedule"), 1) & 0xFF);
    record.UpdateTime = ReadFloatValue(store, path, QStringLiteral("UpdateTime"), 0);
    record.UpdateDayNumber = ReadIntegerValue(store, path, QStringLiteral("UpdateDayNumber"), 1);
    record.UpdateDayOfWeek = ReadIntegerValue(store, path, QStringLiteral("UpdateDayOfWeek"), 1);
}

void WriteUpdateSchedule(const TSettingsStore& store, const QString& path,
                         const TUpdateSchedule& record) {
    TSettingsBatch batch(store);
    WriteBoolValue(store, path, QStringLiteral("UpdateAtStartup"), record.UpdateAtStartup);
    WriteBoolValue(store, path, QStringLiteral("UpdateAtTime"), record.UpdateAtTime);
    WriteIntegerValue(store, path, QStringLiteral("UpdateSchedule"), record.UpdateSchedule);
    WriteFloatValue(store, path, QStringLiteral("UpdateTime"), record.UpdateTime);
    WriteIntegerValue(store, path, QStringLiteral("UpdateDayNumber"), record.UpdateDayNumber);
    WriteIntegerValue(store, path, QStringLiteral("UpdateDayOfWeek"), record.UpdateDayOfWeek);
    batch.Commit();
}

void WriteConnectionSettings(const TSettingsStore& store, const QString& path,
                             const TConnectionSettings& record) {
    TSettingsBatch batch(store);
    WriteIntegerValue(store, path, QStringLiteral("UseHttpTunnel"), record.UseHttpTunnel);
    WriteStringValue(store, path, QStringLiteral("ProxyServer"), record.ProxyServer);
    WriteIntegerValue(store, path, QStringLiteral("ProxyPort"), record.ProxyPort);
    WriteStringValue(store, path, QStringLiteral("ProxyUsername"), record.ProxyUsername);
    WriteStringValue(store, path, QStringLiteral("ProxyPassword"), record.ProxyPassword);
    WriteStringValue(store, path, QStringLiteral("SocksHost"), record.SocksHost);
    WriteIntegerValue(store, path, QStringLiteral("SocksPort"), record.SocksPort);
    WriteIntegerValue(store, path, QStringLiteral("SocksVersion"), record.SocksVersion);
    WriteStringValue(store, path, QStringLiteral("SocksUsername"), record.SocksUsername);
    WriteStringValue(store, path, QStringLiteral("SocksPassword"), record.SocksPassword);
    batch.Commit();
}
