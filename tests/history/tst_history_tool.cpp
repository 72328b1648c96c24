#include "history/zkHistoryStore.h"
#include "zkHistoryTestUtil.h"
#include "zkTestSupport.h"

#include <QFileInfo>
#include <QProcess>
#include <QtTest>

#include <memory>

#include <sqlite3.h>

namespace {

QString toolPath() {
    return QStringLiteral(VELQUIST_BIN_DIR "/velquist-history");
}

struct TResult {
    int Status = -1;
    QByteArray Out;
    QByteArray Err;
};

TResult RunTool(const QStringList& arguments) {
    QProcess process;
    process.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
    process.start(toolPath(), arguments);
    if (!process.waitForFinished(30000))
        process.kill();
    process.waitForFinished();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

THistoryAlert MakeAlert(const char* isoTime, const QString& window, const QString& symbol,
                        double price, const QString& description) {
    return MakeHistoryAlert(
        QDateTime::fromString(QString::fromLatin1(isoTime), Qt::ISODateWithMs).toMSecsSinceEpoch(),
        window, symbol, price, description);
}

const QByteArray Header = "time,window,symbol,price,description,source\r\n";

} // namespace

class THistoryToolTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TTestHome> Home;
    std::unique_ptr<THistoryStore> Writer;

private slots:
    void initTestCase() {
        QVERIFY2(QFileInfo(toolPath()).isExecutable(), "velquist-history is not built");
    }
    void init() {
        Home = std::make_unique<TTestHome>();
        Writer = std::make_unique<THistoryStore>(THistoryStore::DefaultPath(),
                                                 THistoryStore::TMode::ReadWrite);
        std::vector<THistoryAlert> alerts = {
            MakeAlert("2026-12-08T23:59:59.999Z", "Gap ups", "AAPL", 190.5, "Gap up (+1.20%)"),
            MakeAlert("2026-12-09T00:00:00.000Z", "Gap ups", "aapx", 2, "late, \"very\""),
            MakeAlert("2026-12-09T14:30:05.123Z", "Highs", "MSFT", 401.25, "New high\nagain"),
            MakeAlert("2026-12-09T23:59:59.999Z", "Gap ups ", "AMD", 0.1, "Überblick"),
            MakeAlert("2026-12-10T00:00:00.000Z", "Highs", "AAPL", 191, "New high"),
        };
        Writer->Append(alerts);
    }
    void cleanup() {
        Writer.reset();
        Home.reset();
    }

    void exportsWhileTheWriterHoldsTheFile() {
        // The client's connection stays open, in the middle of a write.
        sqlite3* db = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(THistoryStore::DefaultPath()).constData(), &db),
                 SQLITE_OK);
        QCOMPARE(
            sqlite3_exec(db, "BEGIN IMMEDIATE; DELETE FROM alerts;", nullptr, nullptr, nullptr),
            SQLITE_OK);
        const TResult all = RunTool({"export"});
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        QCOMPARE(all.Status, 0);
        QCOMPARE(all.Err, QByteArray());
        QCOMPARE(all.Out,
                 Header +
                     "2026-12-08T23:59:59.999Z,Gap ups,AAPL,190.5,Gap up (+1.20%),service\r\n"
                     "2026-12-09T00:00:00.000Z,Gap ups,aapx,2,\"late, \"\"very\"\"\",service\r\n"
                     "2026-12-09T14:30:05.123Z,Highs,MSFT,401.25,\"New high\nagain\",service\r\n"
                     "2026-12-09T23:59:59.999Z,Gap ups ,AMD,0.1,Überblick,service\r\n"
                     "2026-12-10T00:00:00.000Z,Highs,AAPL,191,New high,service\r\n");
    }

    // A terminal reads an escape sequence as a command and a right-to-left override reorders
    // the line: there they are written out. A pipe (or a file) still gets the CSV byte for byte.
    void aTerminalGetsTheTextEscaped() {
        std::vector<THistoryAlert> hostile = {
            MakeAlert("2026-12-11T09:00:00.000Z", QString::fromUcs4(U"Gap\u202eUp"), "EVIL", 1,
                      QString::fromUcs4(U"\x1b]0;owned\x07\x1b[2J up\u009b3% C:\\x \u2764\ufe0f"))};
        Writer->Append(hostile);
        const QStringList args{"export", "--symbol", "EVIL"};
        const TResult piped = RunTool(args);
        QCOMPARE(piped.Status, 0);
        const QByteArray exact = QString::fromUcs4(U"2026-12-11T09:00:00.000Z,Gap\u202eUp,EVIL,1,"
                                                   U"\x1b]0;owned\x07\x1b[2J up\u009b3% C:\\x "
                                                   U"\u2764\ufe0f,service\r\n")
                                     .toUtf8();
        QCOMPARE(piped.Out, Header + exact);

        const TTerminalRun shown = RunOnTerminal(toolPath(), args);
        QCOMPARE(shown.Status, 0);
        QVERIFY2(!shown.Out.contains('\x1b') && !shown.Out.contains('\x07') &&
                     !shown.Out.contains("\xc2\x9b") && !shown.Out.contains("\u202e"),
                 shown.Out.constData());
        // The terminal turns each line feed into a carriage return and a line feed.
        QCOMPARE(shown.Out, QByteArray("time,window,symbol,price,description,source\r\r\n") +
                                QString::fromUcs4(U"2026-12-11T09:00:00.000Z,Gap\\u202EUp,EVIL,1,"
                                                  U"\\x1B]0;owned\\x07\\x1B[2J up\\x9B3% C:\\x5Cx "
                                                  U"\u2764\ufe0f,service\r\r\n")
                                    .toUtf8());
    }

    void filtersAsDocumented() {
        const auto lines = [](const QStringList& args) {
            const TResult r = RunTool(QStringList{"export"} + args);
            if (r.Status != 0 || !r.Out.startsWith(Header))
                return QList<QByteArray>{"failed: " + r.Err};
            QList<QByteArray> times;
            for (const QByteArray& line : r.Out.mid(Header.size()).split('\n'))
                if (line.startsWith("2026"))
                    times << line.left(24);
            return times;
        };
        // A date alone as --to takes the whole day; --from a date its start.
        QCOMPARE(lines({"--from", "2026-12-09", "--to", "2026-12-09"}),
                 QList<QByteArray>({"2026-12-09T00:00:00.000Z", "2026-12-09T14:30:05.123Z",
                                    "2026-12-09T23:59:59.999Z"}));
        // An offset moves the instant: 15:30 in UTC+1 is 14:30 UTC.
        QCOMPARE(lines({"--from=2026-12-09T15:30+01:00", "--to", "2026-12-09T14:30:05.123Z"}),
                 QList<QByteArray>({"2026-12-09T14:30:05.123Z"}));
        QCOMPARE(lines({"--to", "2026-12-09T14:30:05.122Z", "--from", "2026-12-09T00:00"}),
                 QList<QByteArray>({"2026-12-09T00:00:00.000Z"}));
        QCOMPARE(lines({"--symbol", "aap"}),
                 QList<QByteArray>({"2026-12-08T23:59:59.999Z", "2026-12-09T00:00:00.000Z",
                                    "2026-12-10T00:00:00.000Z"}));
        // The window's exact name: not "Gap ups " with its trailing space, not "gap ups".
        QCOMPARE(lines({"--window", "Gap ups", "--symbol", "A"}),
                 QList<QByteArray>({"2026-12-08T23:59:59.999Z", "2026-12-09T00:00:00.000Z"}));
        QCOMPARE(lines({"--window", "gap ups"}), QList<QByteArray>());
        // Nothing matches: the header alone.
        const TResult none = RunTool({"export", "--symbol", "ZZZ"});
        QCOMPARE(none.Status, 0);
        QCOMPARE(none.Out, Header);
    }

    void badArgumentsExitTwoWithAMessage() {
        const QList<QStringList> bad = {
            {},
            {"import"},
            {"export", "--symbol"},
            {"export", "--from", "yesterday"},
            {"export", "--from", "2026-02-30"},
            {"export", "--to", "2026-12-09T24:00"},
            {"export", "--to", "2026-12-09T10:00+25:00"},
            {"export", "--from", "2026-12-09+01:00"},
            {"export", "--limit", "5"},
        };
        for (const QStringList& args : bad) {
            const TResult r = RunTool(args);
            QVERIFY2(r.Status == 2, qPrintable(args.join(' ')));
            QVERIFY(r.Out.isEmpty());
            QVERIFY(r.Err.startsWith("velquist-history: "));
        }
        const TResult help = RunTool({"--help"});
        QCOMPARE(help.Status, 0);
        QVERIFY(help.Out.startsWith("Usage: velquist-history export"));
        QCOMPARE(RunTool({"--version"}).Status, 0);
    }

    void missingHistoryExitsOne() {
        Writer.reset();
        for (const char* suffix : {"", "-wal", "-shm"})
            QFile::remove(THistoryStore::DefaultPath() + suffix);
        const TResult r = RunTool({"export"});
        QCOMPARE(r.Status, 1);
        QVERIFY(r.Out.isEmpty());
        QVERIFY(r.Err.contains("no alert history"));
        // Reading never creates one.
        QVERIFY(!QFileInfo::exists(THistoryStore::DefaultPath()));
    }
};

QTEST_GUILESS_MAIN(THistoryToolTest)
#include "tst_history_tool.moc"
