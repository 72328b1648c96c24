#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

class TUserStore;

// A settings store: the per-user store (a path names a key, such as
// "\Software\Velquist Client\Settings") or an INI file (a path names a section).
// The value layer below works alike on both, so a record is saved to either by the same code.
class TSettingsStore {
public:
    enum class TKind { Registry, IniFile };

    // The process's per-user store (TUserStore::Instance()).
    static TSettingsStore Registry();
    // A given per-user store (tests, tools).
    static TSettingsStore Registry(TUserStore& store);
    // An INI file; a relative name is taken relative to the current directory.
    static TSettingsStore IniFile(const QString& fileName);

    TKind kind() const { return Kind; }
    bool isIniFile() const { return Kind == TKind::IniFile; }
    const QString& fileName() const { return FileName; }
    TUserStore& userStore() const; // only for Registry stores

private:
    TKind Kind = TKind::Registry;
    QString FileName;
    TUserStore* Store = nullptr;
};

// The settings key path below the per-user root, set once at start-up from Settings.ini
// (default "\Software\Velquist Client"); every per-user path is this followed by a subkey.
QString SettingsKeyPath();
void SetSettingsKeyPath(const QString& path);
// The key of the client's own settings: SettingsKeyPath() + "\Settings".
QString SettingsValuesPath();
inline const char* DefaultSettingsKeyPath() { return "\\Software\\Velquist Client"; }

// The value layer. Every read names a default; a missing value or a value of the wrong kind
// reads as that default without a report. Writes to the per-user store create missing keys;
// writes to an INI file that cannot be written raise EIniFileError ("Unable to write to %s").
int32_t ReadIntegerValue(const TSettingsStore& store, const QString& path, const QString& name,
                         int32_t def);
void WriteIntegerValue(const TSettingsStore& store, const QString& path, const QString& name,
                       int32_t value);
QString ReadStringValue(const TSettingsStore& store, const QString& path, const QString& name,
                        const QString& def);
void WriteStringValue(const TSettingsStore& store, const QString& path, const QString& name,
                      const QString& text);
bool ReadBoolValue(const TSettingsStore& store, const QString& path, const QString& name,
                   bool def);
void WriteBoolValue(const TSettingsStore& store, const QString& path, const QString& name,
                    bool value);
double ReadFloatValue(const TSettingsStore& store, const QString& path, const QString& name,
                      double def);
void WriteFloatValue(const TSettingsStore& store, const QString& path, const QString& name,
                     double value);

// The per-user store alone, for values kept there only as a fallback (the secrets): a text
// (plain or expandable) at path\name, when there is one; removing path\name. A failing
// database reads as nothing there and drops the removal, as above.
bool ReadStoredText(const TSettingsStore& store, const QString& path, const QString& name,
                    QString& text);
void DeleteStoredValue(const TSettingsStore& store, const QString& path, const QString& name);

// Whether a section (INI) or key (per-user store) exists, and the names of its values in
// stored order; used by callers that enumerate a section (the "ActiveX" keys, for one).
bool SectionExists(const TSettingsStore& store, const QString& path);
QStringList ReadSectionKeys(const TSettingsStore& store, const QString& path);
// Removes a whole section (INI) or a key with its values and subkeys (per-user store).
void EraseSection(const TSettingsStore& store, const QString& path);

// Groups many writes into one unit: one transaction in the per-user store, one atomic
// replacement of an INI file. Writes inside the scope are held until Commit(); a scope left
// without Commit() (an error on the way) drops them and leaves the store as it was.
// Scopes nest: only the outermost one commits.
class TSettingsBatch {
public:
    explicit TSettingsBatch(const TSettingsStore& store);
    ~TSettingsBatch();
    TSettingsBatch(const TSettingsBatch&) = delete;
    TSettingsBatch& operator=(const TSettingsBatch&) = delete;
    void Commit(); // raises EIniFileError / EStoreError when the unit cannot be written

private:
    struct TImpl;
    std::unique_ptr<TImpl> Impl;
};

// Integer text as the profile rules read it: optional blanks and sign, decimal digits, or
// hexadecimal after "$", "x" or "0x" (any case). Returns false for anything else or overflow.
bool TryParseIntegerText(const QString& text, int32_t& value);
// Float text in the locale's form, or the C form with "."; false when it does not convert.
bool TryParseFloatText(const QString& text, double& value);
// Shortest general decimal form with the locale's decimal separator.
QString FormatFloatText(double value);

// The update schedule (kept in the per-user store under \Settings\Updates).
struct TUpdateSchedule {
    bool UpdateAtStartup = true;
    bool UpdateAtTime = true;
    uint8_t UpdateSchedule = 1;
    double UpdateTime = 0;
    int32_t UpdateDayNumber = 1;
    int32_t UpdateDayOfWeek = 1;
};
void ReadUpdateSchedule(const TSettingsStore& store, const QString& path, TUpdateSchedule& record);
void WriteUpdateSchedule(const TSettingsStore& store, const QString& path,
                         const TUpdateSchedule& record);

// Proxy and tunnel settings of the connection, written to Local.ini section "Settings".
struct TConnectionSettings {
    int32_t UseHttpTunnel = 0;
    QString ProxyServer;
    int32_t ProxyPort = 0;
    QString ProxyUsername;
    QString ProxyPassword;
    QString SocksHost;
    int32_t SocksPort = 0;
    int32_t SocksVersion = 0;
    QString SocksUsername;
    QString SocksPassword;
};
void WriteConnectionSettings(const TSettingsStore& store, const QString& path,
                             const TConnectionSettings& record);
