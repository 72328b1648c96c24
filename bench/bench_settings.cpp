// Figures for the settings layer, each beside a baseline measured in the same run:
//  (a) one value read from a per-user store of 10,000 values, beside raw SQLite with a prepared
//      statement on an open connection (goal: at most 10 us);
//  (b) 2,500 writes in one batch (a layout of 100 windows), beside raw SQLite in one
//      transaction (goal: at most 10 ms);
//  (c) all 2,500 keys of a 100-window layout file read one value at a time through the value
//      layer, beside one raw parse of the file (goal: at most 10 ms).
#include "config/zkIniFile.h"
#include "config/zkSettings.h"
#include "config/zkUserStore.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

template <typename F> double TimeOnce(F&& fn) {
    const auto start = Clock::now();
    fn();
    return Seconds(Clock::now() - start);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

const QString LayoutPath = QStringLiteral("\\Software\\Velquist Client\\Settings\\Layout");
constexpr int Windows = 100;

// The 25 values one window adds to a layout: its record and its actions.
struct TLayoutValue {
    QString Group;
    QString Name;
    bool Text;
};

std::vector<TLayoutValue> LayoutValues() {
    static const char* const Record[] = {
        "Top",         "Left",         "Width",          "Height",        "WindowState",
        "FontCharset", "FontColor",    "FontHeight",     "FontName",      "FontPitch",
        "FontSize",    "FontBold",     "FontItalic",     "FontUnderline", "FontStrikeOut",
        "DataConfig",  "WindowConfig", "WindowFileName", "StartegyConfig"};
    std::vector<TLayoutValue> values;
    for (int w = 0; w < Windows; ++w) {
        const QString group = QStringLiteral("%1\\AlertWindow%2").arg(LayoutPath).arg(w);
        for (const char* name : Record) {
            const QString n = QString::fromLatin1(name);
            const bool text = n == QLatin1String("FontName") ||
                              n.endsWith(QLatin1String("Config")) ||
                              n == QLatin1String("WindowFileName");
            values.push_back({group, n, text});
        }
        const QString actions = group + QStringLiteral("\\Actions");
        values.push_back({actions, QStringLiteral("ActionsCount"), false});
        for (int a = 0; a < 5; ++a)
            values.push_back({actions, QStringLiteral("Action%1").arg(a), true});
    }
    return values;
}

QString TextFor(const TLayoutValue& v) {
    if (v.Name == QLatin1String("WindowConfig"))
        return QStringLiteral("C,9,1,40,2,42,3,37,4,277,5,53,6,51,9,43,11,58,10,48,0,1,21,33");
    if (v.Name == QLatin1String("DataConfig"))
        return QStringLiteral("O=3_3D_0&WN=High%2fLow+Ticker");
    return QStringLiteral("Sound:alert.wav|Raise|Send:List 1");
}

void WriteLayout(const TSettingsStore& store, const std::vector<TLayoutValue>& values) {
    TSettingsBatch batch(store);
    int n = 0;
    for (const TLayoutValue& v : values) {
        if (v.Text)
            WriteStringValue(store, v.Group, v.Name, TextFor(v));
        else
            WriteIntegerValue(store, v.Group, v.Name, ++n);
    }
    batch.Commit();
}

// The simplest SQLite layout of the same data: one table, one primary key.
sqlite3* OpenRaw(const QString& file) {
    sqlite3* db = nullptr;
    sqlite3_open(QFile::encodeName(file).constData(), &db);
    sqlite3_exec(db,
                 "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
                 "CREATE TABLE IF NOT EXISTS kv(path TEXT, name TEXT, value,"
                 " PRIMARY KEY(path, name)) WITHOUT ROWID;",
                 nullptr, nullptr, nullptr);
    return db;
}

void Ratio(const char* what, double ours, double raw, const char* unit, double scale, double goal) {
    std::printf("%-44s %9.3f %s   raw %9.3f %s   ratio %6.2fx   goal <= %g %s: %s\n", what,
                ours * scale, unit, raw * scale, unit, ours / raw, goal, unit,
                ours * scale <= goal ? "met" : "MISSED");
}

void BenchRead(const QString& dir) {
    TUserStore store(dir + QStringLiteral("/read.sqlite3"));
    sqlite3* raw = OpenRaw(dir + QStringLiteral("/read-raw.sqlite3"));
    {
        TUserStoreBatch batch(store);
        sqlite3_exec(raw, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(raw, "INSERT INTO kv VALUES(?1, ?2, ?3)", -1, &insert, nullptr);
        for (int k = 0; k < 100; ++k)
            for (int i = 0; i < 100; ++i) {
                const QString key = QStringLiteral("%1\\AlertWindow%2").arg(LayoutPath).arg(k);
                const QString name = QStringLiteral("Value%1").arg(i);
                store.SetValue(key, name, TStoreValue::Dword(k * 100 + i));
                const QByteArray k8 = key.toCaseFolded().toUtf8(),
                                 n8 = name.toCaseFolded().toUtf8();
                sqlite3_bind_text(insert, 1, k8.constData(), -1, SQLITE_TRANSIENT);
                sqlite3_bind_text(insert, 2, n8.constData(), -1, SQLITE_TRANSIENT);
                sqlite3_bind_int(insert, 3, k * 100 + i);
                sqlite3_step(insert);
                sqlite3_reset(insert);
            }
        sqlite3_finalize(insert);
        sqlite3_exec(raw, "COMMIT", nullptr, nullptr, nullptr);
        batch.Commit();
    }

    const TSettingsStore reg = TSettingsStore::Registry(store);
    constexpr int Reads = 20000;
    std::vector<QString> keys, names;
    std::vector<QByteArray> rawKeys, rawNames;
    for (int r = 0; r < 64; ++r) {
        const int k = (r * 37) % 100, i = (r * 61) % 100;
        keys.push_back(QStringLiteral("%1\\AlertWindow%2").arg(LayoutPath).arg(k));
        names.push_back(QStringLiteral("Value%1").arg(i));
        rawKeys.push_back(keys.back().toCaseFolded().toUtf8());
        rawNames.push_back(names.back().toCaseFolded().toUtf8());
    }
    std::vector<double> ours, base;
    int64_t sink = 0;
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(raw, "SELECT value FROM kv WHERE path=?1 AND name=?2", -1, &select, nullptr);
    for (int r = 0; r < Reads; ++r) {
        const size_t at = size_t(r % 64);
        ours.push_back(TimeOnce([&] { sink += ReadIntegerValue(reg, keys[at], names[at], -1); }));
        base.push_back(TimeOnce([&] {
            sqlite3_bind_text(select, 1, rawKeys[at].constData(), int(rawKeys[at].size()),
                              SQLITE_STATIC);
            sqlite3_bind_text(select, 2, rawNames[at].constData(), int(rawNames[at].size()),
                              SQLITE_STATIC);
            if (sqlite3_step(select) == SQLITE_ROW)
                sink += sqlite3_column_int(select, 0);
            sqlite3_reset(select);
        }));
    }
    sqlite3_finalize(select);
    sqlite3_close(raw);
    Ratio("(a) read 1 of 10,000 store values (median)", Median(ours), Median(base), "us", 1e6, 10);
    if (sink == 42)
        std::puts("");
}

void BenchBatchWrite(const QString& dir) {
    const std::vector<TLayoutValue> values = LayoutValues();
    std::vector<double> fresh, again, rawTimes;
    for (int round = 0; round < 7; ++round) {
        TUserStore store(dir + QStringLiteral("/write%1.sqlite3").arg(round));
        const TSettingsStore reg = TSettingsStore::Registry(store);
        fresh.push_back(TimeOnce([&] { WriteLayout(reg, values); }));
        again.push_back(TimeOnce([&] { WriteLayout(reg, values); }));

        sqlite3* raw = OpenRaw(dir + QStringLiteral("/write-raw%1.sqlite3").arg(round));
        std::vector<QByteArray> groups, names;
        for (const TLayoutValue& v : values) {
            groups.push_back(v.Group.toCaseFolded().toUtf8());
            names.push_back(v.Name.toCaseFolded().toUtf8());
        }
        const QByteArray text = TextFor(values[8]).toUtf8();
        rawTimes.push_back(TimeOnce([&] {
            sqlite3_exec(raw, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
            sqlite3_stmt* insert = nullptr;
            sqlite3_prepare_v2(raw, "INSERT OR REPLACE INTO kv VALUES(?1, ?2, ?3)", -1, &insert,
                               nullptr);
            for (size_t i = 0; i < values.size(); ++i) {
                sqlite3_bind_text(insert, 1, groups[i].constData(), -1, SQLITE_STATIC);
                sqlite3_bind_text(insert, 2, names[i].constData(), -1, SQLITE_STATIC);
                if (values[i].Text)
                    sqlite3_bind_text(insert, 3, text.constData(), -1, SQLITE_STATIC);
                else
                    sqlite3_bind_int(insert, 3, int(i));
                sqlite3_step(insert);
                sqlite3_reset(insert);
            }
            sqlite3_finalize(insert);
            sqlite3_exec(raw, "COMMIT", nullptr, nullptr, nullptr);
        }));
        sqlite3_close(raw);
    }
    Ratio("(b) 2,500 writes in one batch, new keys", Median(fresh), Median(rawTimes), "ms", 1e3,
          10);
    Ratio("(b) 2,500 writes in one batch, keys exist", Median(again), Median(rawTimes), "ms", 1e3,
          10);
}

void BenchIniReads(const QString& dir) {
    const std::vector<TLayoutValue> values = LayoutValues();
    const QString file = dir + QStringLiteral("/layout.zkl");
    const TSettingsStore ini = TSettingsStore::IniFile(file);
    WriteLayout(ini, values);
    const qint64 size = QFileInfo(file).size();

    std::vector<double> cold, warm, parse;
    int64_t sink = 0;
    const auto readAll = [&] {
        for (const TLayoutValue& v : values) {
            if (v.Text)
                sink += ReadStringValue(ini, v.Group, v.Name, QString()).size();
            else
                sink += ReadIntegerValue(ini, v.Group, v.Name, 0);
        }
    };
    for (int round = 0; round < 15; ++round) {
        zkIni::ClearCache();
        cold.push_back(TimeOnce(readAll));
        warm.push_back(TimeOnce(readAll));
        parse.push_back(TimeOnce([&] {
            QFile f(file);
            f.open(QIODevice::ReadOnly);
            sink += TIniDocument::Parse(f.readAll()).SectionNames().size();
        }));
    }
    std::printf("    layout file: %zu keys, %lld bytes\n", values.size(), size);
    Ratio("(c) read 2,500 layout keys, first (parses)", Median(cold), Median(parse), "ms", 1e3, 10);
    Ratio("(c) read 2,500 layout keys, again (cached)", Median(warm), Median(parse), "ms", 1e3, 10);
    if (sink == 42)
        std::puts("");
}

void BenchBigFile(const QString& dir) {
    QByteArray big;
    for (int s = 0; big.size() < 50 * 1024 * 1024; ++s) {
        big += "[Section" + QByteArray::number(s) + "]\r\n";
        for (int k = 0; k < 100; ++k)
            big += "Key" + QByteArray::number(k) + "=" + QByteArray(40, 'v') + "\r\n";
    }
    const QString file = dir + QStringLiteral("/big.ini");
    {
        QFile f(file);
        f.open(QIODevice::WriteOnly);
        f.write(big);
    }
    zkIni::ClearCache();
    const double first = TimeOnce([&] { zkIni::ReadValue(file, "Section5", "Key5"); });
    const double write = TimeOnce([&] { zkIni::WriteValue(file, "Section5", "Key5", "x"); });
    std::printf("%-44s %9.1f ms (first read, parses) %9.1f ms (one write, saves)\n",
                "    50 MB file", first * 1e3, write * 1e3);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    std::printf("bench_settings: Qt %s, SQLite %s\n", qVersion(), sqlite3_libversion());
    // Arguments pick parts ("a", "b", "c", "big"); none runs all.
    const QStringList only = app.arguments().mid(1);
    const auto wanted = [&](const char* part) {
        return only.isEmpty() || only.contains(QLatin1String(part));
    };
    if (wanted("a"))
        BenchRead(dir.path());
    if (wanted("b"))
        BenchBatchWrite(dir.path());
    if (wanted("c"))
        BenchIniReads(dir.path());
    if (wanted("big"))
        BenchBigFile(dir.path());
    return 0;
}
