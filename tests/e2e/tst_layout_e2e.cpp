// Whole-process tests of layouts: the built client copied into a temporary installation, started
// on a prepared layout file, ended by SIGTERM or killed outright while it saves.
#include "config/zkIniFile.h"
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "config/zkWindowRecord.h"
#include "platform/zkInstance.h"
#include "shell/zkLayouts.h"
#include "zkHarness.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QtTest>

#include <sys/stat.h>

namespace {

// Which file a path names now. The inode alone is not enough: a freed inode number comes back
// for a later save, so the change time (a rename sets it) goes with it.
QPair<ino_t, qint64> stampOf(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {0, 0};
    return {info.st_ino, qint64(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec};
}

// A desk of three alert windows with their own fonts, colours, configurations and actions, the
// symbol lists window shown and the connector window hidden; all of it on the 800 x 600 screen
// of the offscreen platform, so nothing needs moving. No action sends on each alert: with no
// program linked, that would bring the connector window forward.
TLayout preparedLayout() {
    SetDefaultWindowRecord();
    TLayout layout;
    layout.MainTop = 40;
    layout.MainLeft = 500;
    const struct {
        int Left, Top, Width, Height;
        const char* Font;
        int Color;
        const char* Data;
        const char* File;
        QStringList Actions;
    } windows[] = {
        {10,
         30,
         400,
         200,
         "Verdana",
         -16777208,
         "O=3_3D_0&WN=High%2fLow+Ticker",
         "",
         {"2,4,MAIN LIST"}},
        {200,
         150,
         500,
         300,
         "DejaVu Sans",
         255,
         "O=1&WN=Gappers",
         "/desk/Gappers.zka",
         {"1,3", "3,4,Gappers", "2,4,MAIN LIST"}},
        {50, 300, 300, 250, "Courier New", 0x00336699, "O=2&WN=Caf%c3%a9", "", {"1,3"}},
    };
    for (const auto& w : windows) {
        TLayoutWindow entry;
        entry.Record = DefaultWindowRecord();
        entry.Record.Left = w.Left;
        entry.Record.Top = w.Top;
        entry.Record.Width = w.Width;
        entry.Record.Height = w.Height;
        entry.Record.FontName = QString::fromLatin1(w.Font);
        entry.Record.FontColor = w.Color;
        entry.Record.DataConfig = QString::fromLatin1(w.Data);
        entry.Record.WindowFileName = QString::fromLatin1(w.File);
        entry.Actions = w.Actions;
        layout.Windows.push_back(entry);
    }
    layout.Windows[1].Record.FontBold = true;
    layout.Windows[2].Record.StrategyConfig = QStringLiteral("S=12");
    layout.SymbolWindow = {100, 300, 320, 400, 0, true};
    layout.ConnectorWindow = {60, 60, 420, 380, 0, false};
    return layout;
}

// An installation whose per-user store says: open and save this layout file.
struct TPreparedDesk : TWholeProcessHarness {
    QString File = installDir() + QStringLiteral("/SavedWindows/desk.zkl");
    TLayout Layout = preparedLayout();
    QByteArray Bytes;

    TPreparedDesk() {
        StoreDeskChoices(File, true);
        // A layout saved over itself settles into the section order every later save keeps:
        // saved twice, a scratch file gives the bytes the client's save must write. The desk's
        // own file is saved once, so it holds the same layout in other bytes and a save that
        // really happens changes it (a save of bytes already there leaves the file alone).
        QDir().mkpath(installDir() + QStringLiteral("/SavedWindows"));
        const QString settled = installDir() + QStringLiteral("/SavedWindows/settled.zkl");
        WriteLayout(TSettingsStore::IniFile(settled), Layout);
        WriteLayout(TSettingsStore::IniFile(settled), Layout);
        Bytes = ReadWholeFile(settled);
        QFile::remove(settled);
        WriteLayout(TSettingsStore::IniFile(File), Layout);
    }
    TLayout read() const {
        zkIni::ClearCache();
        return ReadLayout(TSettingsStore::IniFile(File));
    }
};

} // namespace

class TLayoutE2ETest : public QObject {
    Q_OBJECT
private slots:
    void terminateWritesBackTheSameLayout();
    void killedWhileSavingLeavesOneWholeLayout();
};

void TLayoutE2ETest::terminateWritesBackTheSameLayout() {
    TPreparedDesk desk;
    QCOMPARE(desk.read(), desk.Layout);
    QVERIFY(ReadWholeFile(desk.File) != desk.Bytes);
    const auto before = stampOf(desk.File);

    TClientRun& run = desk.startClient();
    QVERIFY(run.waitStarted());
    // "terminate" on the activation socket. The socket listens before the main window exists,
    // and a command read before that has nobody to end: send it again until the client ends.
    const QString lock = TInstanceGuard::LockName(desk.installDir());
    QTest::qWait(500); // let alerts flow (and raise their windows) first
    QElapsedTimer waited;
    waited.start();
    while (run.process().state() != QProcess::NotRunning && waited.elapsed() < 30000) {
        TInstanceGuard::SendCommand(lock, "terminate");
        run.waitFinished(300);
    }
    QCOMPARE(run.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.exitCode(), 0);
    const QByteArray err = run.stdErr();
    QVERIFY2(!err.contains("velquist prompt"), err.constData());

    // A new file (the save replaced it) with the very same layout in it.
    QVERIFY(stampOf(desk.File) != before);
    QCOMPARE(desk.read(), desk.Layout);
    QCOMPARE(ReadWholeFile(desk.File), desk.Bytes);
}

void TLayoutE2ETest::killedWhileSavingLeavesOneWholeLayout() {
    TPreparedDesk desk;
    QProcessEnvironment env;
    env.insert(QStringLiteral("VELQUIST_TEST_SAVE_LOOP"), desk.File);
    QRandomGenerator random(20261208);
    QSet<QString> generations;
    QElapsedTimer clock;
    clock.start();
    constexpr int Kills = 200;
    for (int kill = 0; kill < Kills; ++kill) {
        const auto before = stampOf(desk.File);
        TClientRun& run = desk.startClient({}, env);
        QVERIFY(run.waitStarted());
        // Wait for this run's first save, then kill it somewhere in the loop of saves.
        QElapsedTimer waited;
        waited.start();
        // Judge by what the loop saw: a later save of the same run may already have replaced it.
        bool saved = false;
        while (!(saved = stampOf(desk.File) != before) && waited.elapsed() < 20000)
            QThread::usleep(500);
        QVERIFY2(saved, run.stdErr().constData());
        QThread::usleep(random.bounded(30000u));
        run.process().kill();
        QVERIFY(run.waitFinished());
        QCOMPARE(run.exitStatus(), QProcess::CrashExit);

        // The file is one save's layout, whole: the prepared desk with one generation's names.
        const TLayout found = desk.read();
        QVERIFY2(
            found.Windows.size() == desk.Layout.Windows.size(),
            qPrintable(QStringLiteral("kill %1: %2 windows").arg(kill).arg(found.Windows.size())));
        const QString generation = found.Windows.front().Record.WindowFileName;
        QVERIFY2(generation.startsWith(QStringLiteral("gen-")), qPrintable(generation));
        TLayout expected = desk.Layout;
        for (TLayoutWindow& w : expected.Windows)
            w.Record.WindowFileName = generation;
        QVERIFY2(found == expected, qPrintable(QStringLiteral("kill %1").arg(kill)));
        generations.insert(QString::number(kill) + QLatin1Char('/') + generation);
    }
    qInfo("%d kills in %.1f s", Kills, clock.elapsed() / 1000.0);
    QCOMPARE(generations.size(), Kills);
    // What a killed save left beside the file: nothing others can read, and only since the
    // last save that succeeded.
    const QFileInfo deskFile(desk.File);
    const QFileInfoList left = deskFile.dir().entryInfoList(
        {deskFile.fileName() + QStringLiteral(".*")}, QDir::Files | QDir::Hidden);
    QVERIFY2(left.size() <= 1, qPrintable(QString::number(left.size())));
    for (const QFileInfo& l : left)
        QCOMPARE(l.permissions() & 0x0077, QFile::Permissions());
}

QTEST_MAIN(TLayoutE2ETest)
#include "tst_layout_e2e.moc"
