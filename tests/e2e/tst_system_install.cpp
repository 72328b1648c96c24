// Whole-process tests of what the Debian package relies on: every program answers --help and
// --version without a display, a lock or a store, and a client installed as the package
// installs it (read-only /usr/bin, data in /usr/share/velquist) works in the user's own folder.
// The harness gives the private home; the package's layout is made here, since the harness's
// installation is a folder one (the client with its files beside it).
#include "zkHarness.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QtTest>

namespace {
const QString Bin = QStringLiteral(VELQUIST_BIN_DIR);

// The one place the version is set: project() in the top CMakeLists.txt.
QString ProjectVersion() {
    const QByteArray text = ReadWholeFile(QStringLiteral(VELQUIST_SOURCE_DIR "/CMakeLists.txt"));
    const QRegularExpression version(
        QStringLiteral(R"(project\(\s*Velquist\s+VERSION\s+([0-9.]+))"));
    return version.match(QString::fromUtf8(text)).captured(1);
}

// Every file below a folder, relative to it.
QStringList FilesBelow(const QString& dir) {
    QStringList files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(dir).relativeFilePath(it.next());
    files.sort();
    return files;
}

bool CopyFile(const QString& from, const QString& to) {
    QDir().mkpath(QFileInfo(to).path());
    return QFile::copy(from, to);
}
} // namespace

class TSystemInstallTest : public QObject {
    Q_OBJECT
private slots:
    void infoOptionsTouchNothing_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("option");
        QStringList programs =
            QDir(Bin).entryList({"velquist", "velquist-*"}, QDir::Files | QDir::Executable);
        programs.removeIf([](const QString& name) { return name.endsWith(".so"); }); // modules
        QVERIFY(programs.size() >= 4);
        for (const QString& program : programs) {
            QTest::newRow(qPrintable(program + " --version")) << program << "--version";
            QTest::newRow(qPrintable(program + " --help")) << program << "--help";
        }
    }

    void infoOptionsTouchNothing() {
        QFETCH(QString, program);
        QFETCH(QString, option);
        const QString version = ProjectVersion();
        QVERIFY(!version.isEmpty());
        // No display, and a home whose folders would show anything created in it.
        TWholeProcessHarness h;
        const TTestHome& home = h.home();
        h.setWorkingDir(home.path());
        TClientRun& run = h.startProgram(Bin + "/" + program, {option}, {},
                                         {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"});
        QVERIFY(run.waitFinished());
        const QByteArray out = run.process().readAllStandardOutput();
        QVERIFY2(run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0,
                 run.stdErr().constData());
        QVERIFY2(run.stdErr().isEmpty(), run.stdErr().constData());
        if (option == "--version")
            QCOMPARE(out, (program + " " + version + "\n").toUtf8());
        else
            QVERIFY2(out.contains(program.toUtf8()) && out.size() > 40, out.constData());
        QCOMPARE(FilesBelow(home.path()), QStringList());
        QCOMPARE(QDir(home.runtimeDir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList());
    }

    void systemInstallationWorksInTheUsersFolder() {
        TWholeProcessHarness h;
        const TTestHome& home = h.home();
        QTemporaryDir prefix;
        const QString bin = prefix.path() + "/bin";
        const QString share = prefix.path() + "/share/velquist";
        QVERIFY(CopyFile(Bin + "/velquist", bin + "/velquist"));
        QFile::setPermissions(bin + "/velquist", QFile::ReadOwner | QFile::ExeOwner);
        QVERIFY(
            CopyFile(Bin + "/velquist-http.so", prefix.path() + "/lib/velquist/velquist-http.so"));
        for (const char* name : {"Settings.ini", "splash.bmp", "velquist.ico"})
            QVERIFY(CopyFile(Bin + "/" + QString::fromLatin1(name),
                             share + "/" + QString::fromLatin1(name)));
        QVERIFY(CopyFile(Bin + "/starter/SavedWindows/Running Up.zka",
                         share + "/SavedWindows/Running Up.zka"));
        QVERIFY(CopyFile(Bin + "/starter/Sounds/Chime.wav", share + "/Sounds/Chime.wav"));
        const QStringList shipped = FilesBelow(prefix.path());
        // As dpkg leaves /usr/bin: not the user's to write (root writes anyway; the missing
        // Settings.ini beside the program tells it apart from a folder installation).
        QFile::setPermissions(bin, QFile::ReadOwner | QFile::ExeOwner);
        // Writable again whatever fails, or a normal user could not remove it.
        const auto writable = qScopeGuard([&bin] {
            QFile::setPermissions(bin, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        });
        StoreDeskChoices(QString(), false);

        QProcessEnvironment env;
        env.insert("VELQUIST_EXIT_WHEN_IDLE", "1");
        h.setWorkingDir(home.path());
        TClientRun& run = h.startProgram(bin + "/velquist", {}, env);
        QVERIFY(run.waitFinished(30000));
        const QByteArray out = run.process().readAllStandardOutput();
        QVERIFY2(run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0,
                 run.stdErr().constData());
        QVERIFY2(out.contains("idle-at-ns"), out.constData());

        // The user's folder got the starter window and sound; the installation is as shipped.
        const QString mine = home.dataHome() + "/velquist";
        QVERIFY(QFileInfo::exists(mine + "/SavedWindows/Running Up.zka"));
        QVERIFY(QFileInfo::exists(mine + "/Sounds/Chime.wav"));
        QVERIFY(!QFileInfo::exists(mine + "/Settings.ini"));
        QCOMPARE(FilesBelow(prefix.path()), shipped);
    }
};

QTEST_MAIN(TSystemInstallTest)
#include "tst_system_install.moc"
