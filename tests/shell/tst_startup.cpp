#include "components/zkComponentRegistry.h"
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "platform/zkPrompts.h"
#include "platform/zkWarmup.h"
#include "shell/zkStartup.h"
#include "zkTestSupport.h"

#include <QDir>
#include <QFontDatabase>
#include <QIcon>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cstdlib>
#include <thread>

class TStartupTest : public QObject {
    Q_OBJECT
private slots:
    void versionAtLeast_data();
    void versionAtLeast();
    void urlArguments();
    void mailboxKeepsTheLastLink();
    void settingsKeyPathFromStartFolder();
    void componentCheckMessages();
    void damagedStoreIsToldOnce();
    void urlArgumentsAreWipedFromMemory();
    void applicationIconHasEverySize();
    void warmupEndsWhetherOrNotTheFontDatabaseWasStarted();
    void exitDuringTheWarmupEndsCleanly();
};

void TStartupTest::versionAtLeast_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<bool>("expected");
    QTest::newRow("equal") << "4.3" << 4 << 3 << true;
    QTest::newRow("minor compares as a number") << "4.10" << 4 << 3 << true;
    QTest::newRow("higher major, lower minor") << "5.0" << 4 << 3 << true;
    QTest::newRow("lower minor") << "4.2" << 4 << 3 << false;
    QTest::newRow("lower major") << "3.9" << 4 << 3 << false;
    QTest::newRow("empty") << "" << 4 << 3 << false;
    QTest::newRow("no minor") << "4" << 4 << 3 << false;
    QTest::newRow("no minor but higher major") << "5" << 4 << 3 << true;
    QTest::newRow("leading letter") << "v4.3" << 4 << 3 << false;
    QTest::newRow("connector passes") << "1.4" << 1 << 4 << true;
    QTest::newRow("connector fails") << "1.3" << 1 << 4 << false;
    QTest::newRow("junk minor") << "4.a" << 4 << 3 << false;
}

void TStartupTest::versionAtLeast() {
    QFETCH(QString, text);
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(bool, expected);
    QCOMPARE(VersionAtLeast(text, major, minor), expected);
}

void TStartupTest::urlArguments() {
    const QStringList args = {"velquist",    "/url:first", "-url:no", "url:no",
                              "/URL:second", "/url:",      "other"};
    QCOMPARE(UrlArguments(args), QStringList({"first", "second", ""}));
    // The program's own name is never a link, even if it looks like one.
    QCOMPARE(UrlArguments({"/url:self"}), QStringList());
    // Desktop entry's field left unexpanded by xdg-open: the link is the next argument.
    QCOMPARE(UrlArguments({"velquist", "/url:%u", "velquist://Layout/?Name=a", "/url:b"}),
             QStringList({"velquist://Layout/?Name=a", "b"}));
    QCOMPARE(UrlArguments({"velquist", "/url:%u"}), QStringList({"%u"}));
}

void TStartupTest::mailboxKeepsTheLastLink() {
    TTestHome home;
    TUserStore::ResetInstance();
    SetSettingsKeyPath(QString::fromLatin1(DefaultSettingsKeyPath()));
    const QString mailbox = SettingsKeyPath() + QStringLiteral("\\URL Handler");

    PostUrlLinks({"velquist", "/url:velquist://one", "/URL:velquist://two", "-url:three"});
    QCOMPARE(ReadStringValue(TSettingsStore::Registry(), mailbox, QString(), "none"),
             QString("velquist://two"));

    // An empty link is still written: it replaces what was there.
    PostUrlLinks({"velquist", "/url:"});
    QCOMPARE(ReadStringValue(TSettingsStore::Registry(), mailbox, QString(), "none"), QString());
    TUserStore::ResetInstance();
}

void TStartupTest::settingsKeyPathFromStartFolder() {
    QTemporaryDir dir;
    const QString def = QString::fromLatin1(DefaultSettingsKeyPath());
    QCOMPARE(ReadSettingsKeyPath(dir.path()), def);

    WriteTextFile(dir.filePath("Settings.ini"), "[Other]\nRegistryKey=\\Software\\Wrong\n");
    QCOMPARE(ReadSettingsKeyPath(dir.path()), def);

    WriteTextFile(dir.filePath("Settings.ini"), "[Settings]\nServerURL=x\n");
    QCOMPARE(ReadSettingsKeyPath(dir.path()), def);

    WriteTextFile(dir.filePath("Settings.ini"),
                  "[settings]\r\nregistrykey=\\Software\\Test Client\r\n");
    QCOMPARE(ReadSettingsKeyPath(dir.path()), QString("\\Software\\Test Client"));
}

void TStartupTest::componentCheckMessages() {
    TComponentRegistry::ResetToDefaults();
    QCOMPARE(ComponentVersionProblem(), QString());

    TComponentRegistry::Register(zkComponentLibraries::ZentrikWindow(), 4, 2);
    TComponentRegistry::Register(zkComponentLibraries::GenericConnector(), 1, 3);
    // The first library is reported first.
    QCOMPARE(ComponentVersionProblem(),
             QString("ActiveX object (WindowX) not registered or has invalid version "
                     "number.\r\nExpecting \"4.3\", found \"4.2\".\r\nApplication will be "
                     "terminated. Please reinstall the application."));

    TComponentRegistry::Register(zkComponentLibraries::ZentrikWindow(), 4, 10);
    QVERIFY(ComponentVersionProblem().contains("(GenericConnector2x)"));
    QVERIFY(ComponentVersionProblem().contains("Expecting \"1.4\", found \"1.3\""));

    TComponentRegistry::Unregister(zkComponentLibraries::GenericConnector());
    QVERIFY(ComponentVersionProblem().contains("found \"\"."));
    TComponentRegistry::ResetToDefaults();
}

void TStartupTest::damagedStoreIsToldOnce() {
    TTestHome home;
    TUserStore::ResetInstance();
    zkPrompts::SetScripted(true);
    zkPrompts::ClearScript();
    WriteTextFile(TUserStore::DefaultFileName(), QByteArray(8192, 'x'));
    QCOMPARE(ReadIntegerValue(TSettingsStore::Registry(), "\\Any", "Value", 7), 7);
    ShowSetAsideStoreNotice(nullptr);
    ShowSetAsideStoreNotice(nullptr);
    QCOMPARE(zkPrompts::Shown().size(), 1);
    const QString text = zkPrompts::Shown().first().Text;
    const QStringList aside = QDir(home.configHome() + "/velquist")
                                  .entryList({"user-store.sqlite3.corrupt-*"}, QDir::Files);
    QCOMPARE(aside.size(), 1);
    QVERIFY2(text.contains(home.configHome() + "/velquist/" + aside.first()), qPrintable(text));
    TUserStore::ResetInstance();
}

void TStartupTest::urlArgumentsAreWipedFromMemory() {
    QByteArray program("velquist"), link("/URL:velquist://Login/?UserName=a&Password=pw"),
        other("-x");
    char* argv[] = {program.data(), link.data(), other.data(), nullptr};
    WipeUrlArguments(3, argv);
    QCOMPARE(QByteArray(argv[1]), QByteArray("/URL:"));
    QCOMPARE(link.count('\0'), link.size() - 5);
    QCOMPARE(QByteArray(argv[0]), QByteArray("velquist"));
    QCOMPARE(QByteArray(argv[2]), QByteArray("-x"));

    QByteArray field("/url:%u"), next("velquist://Login/?UserName=a&Password=pw");
    char* unexpanded[] = {program.data(), field.data(), next.data(), nullptr};
    WipeUrlArguments(3, unexpanded);
    QCOMPARE(next.count('\0'), next.size());
    QCOMPARE(QByteArray(unexpanded[1]), QByteArray("/url:%u"));
}

// The icon read ahead on another thread is the same as the one read when it is needed: every
// size of the file, and nothing when the file is missing. The window system is told of the small
// sizes first and of every size (pictures at every size) once the event loop first ran dry.
void TStartupTest::applicationIconHasEverySize() {
    const QString iconPath = QCoreApplication::applicationFilePath() + ".ico";
    QFile::remove(iconPath);
    QVERIFY(QFile::copy(QStringLiteral(VELQUIST_BIN_DIR "/velquist.ico"), iconPath));
    const auto removeIcon = qScopeGuard([&] { QFile::remove(iconPath); });
    const QList<QSize> sizes = {{16, 16}, {32, 32}, {48, 48}, {256, 256}};
    const auto named = [] {
        QList<QSize> loaded = QApplication::windowIcon().availableSizes();
        std::sort(loaded.begin(), loaded.end(),
                  [](const QSize& a, const QSize& b) { return a.width() < b.width(); });
        return loaded;
    };
    for (bool ahead : {true, false}) {
        QApplication::setWindowIcon(QIcon());
        if (ahead)
            StartReadingApplicationIcon();
        LoadApplicationIcon();
        QCOMPARE(named(), sizes.mid(0, 3));
        // An event loop that waits, as the client's does once start-up is over.
        QEventLoop loop;
        QTimer poll;
        poll.callOnTimeout([&] {
            if (named() == sizes)
                loop.quit();
        });
        poll.start(20);
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
        QCOMPARE(named(), sizes);
        QCOMPARE(QApplication::windowIcon().pixmap(QSize(256, 256), 1.0).size(), QSize(256, 256));
    }
    QFile::remove(iconPath);
    QPixmap red(8, 8);
    red.fill(Qt::red);
    QApplication::setWindowIcon(QIcon(red));
    StartReadingApplicationIcon();
    LoadApplicationIcon();
    QCOMPARE(QApplication::windowIcon().availableSizes(), QList<QSize>{QSize(8, 8)});
}

void TStartupTest::warmupEndsWhetherOrNotTheFontDatabaseWasStarted() {
    // A start that ends early (another client runs, no display) never asks for the database:
    // its warm-up must still end, also when waited for more than once.
    { TStartupWarmup ended; }
    {
        TStartupWarmup waited;
        waited.Wait();
        waited.Wait();
    }
    TStartupWarmup warmup;
    warmup.StartFontDatabase();
    warmup.StartFontDatabase();
    warmup.Wait();
    QVERIFY(!QFontDatabase::families().isEmpty());
}

namespace {
std::atomic<bool> FillUnderway{false};
QtMessageHandler LogBefore = nullptr;

void TellFillUnderway(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (context.category && qstrcmp(context.category, "qt.text.font.db") == 0)
        FillUnderway = true;
    // Logging goes on as usual, into Qt's logging statics that exit() destroys.
    LogBefore(type, context, text);
}
} // namespace

void TStartupTest::exitDuringTheWarmupEndsCleanly() {
    // exit() from anywhere (Qt's on a lost display connection, ours on a refused start) destroys
    // Qt's statics while the warm-up may still be filling the font database with them.
    if (qEnvironmentVariableIsSet("VELQUIST_TEST_EXIT_DURING_WARMUP")) {
        // The database tells each font it takes: exit once it has taken the first.
        LogBefore = qInstallMessageHandler(TellFillUnderway);
        // As in main(): the warm-up is a local that exit() never destroys.
        auto* warmup = new TStartupWarmup;
        warmup->StartFontDatabase();
        while (!FillUnderway)
            std::this_thread::yield();
        std::exit(3);
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("VELQUIST_TEST_EXIT_DURING_WARMUP", "1");
    environment.insert("QT_LOGGING_RULES", "qt.text.font.db.debug=true");
    for (int run = 0; run < 5; ++run) {
        QProcess child;
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(),
                    {"-nocrashhandler", "exitDuringTheWarmupEndsCleanly"});
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 3);
    }
}

QTEST_MAIN(TStartupTest)
#include "tst_startup.moc"
