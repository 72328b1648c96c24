// Folder installations work beside the program; a system installation (programs in
// <prefix>/bin, data in <prefix>/share/velquist) gives each user a folder of their own.
#include "platform/zkInstallation.h"
#include "zkTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

class TInstallationTest : public QObject {
    Q_OBJECT

    // <root>/prefix/bin and <root>/prefix/share/velquist with a starter window and a sound.
    static void makeSystemLayout(const QString& root) {
        QDir().mkpath(root + "/prefix/bin");
        WriteTextFile(root + "/prefix/share/velquist/Settings.ini", "[Settings]\n");
        WriteTextFile(root + "/prefix/share/velquist/SavedWindows/Running Up.zka", "window");
        WriteTextFile(root + "/prefix/share/velquist/Sounds/Chime.wav", "RIFF");
        // As dpkg leaves them: readable by all, writable by nobody but root.
        QFile::setPermissions(root + "/prefix/share/velquist/SavedWindows/Running Up.zka",
                              QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    }

private slots:
    void whichInstallationIsShared() {
        QTemporaryDir root;
        makeSystemLayout(root.path());
        const QString bin = root.path() + "/prefix/bin";
        QVERIFY(zkInstallation::IsSharedFor(bin));
        QCOMPARE(zkInstallation::SharedDataDirFor(bin), root.path() + "/prefix/share/velquist");

        // A folder installation that happens to sit beside a share folder stays one: it has its
        // Settings.ini (and root can write anywhere, so writability alone cannot tell).
        WriteTextFile(bin + "/Settings.ini", "[Settings]\n");
        QVERIFY(!zkInstallation::IsSharedFor(bin));
        QCOMPARE(zkInstallation::SettingsIniPathFor(bin), QString("Settings.ini"));

        // No shared data: a folder installation, whatever else is missing. A user's own data
        // folder beside a folder installation in ~/.local/bin is no shared data either.
        QTemporaryDir plain;
        QDir().mkpath(plain.path() + "/bin");
        WriteTextFile(plain.path() + "/share/velquist/SavedWindows/DEFAULT_WINDOW.zka", "w");
        QVERIFY(!zkInstallation::IsSharedFor(plain.path() + "/bin"));
        QVERIFY(zkInstallation::SharedDataDirFor(plain.path() + "/bin").isEmpty());
    }

    void modulesBesideTheProgramOrInThePackagesLibraryFolder() {
        QTemporaryDir root;
        makeSystemLayout(root.path());
        const QString bin = root.path() + "/prefix/bin";
        const QString beside = bin + "/velquist-http.so";
        const QString packaged = root.path() + "/prefix/lib/velquist/velquist-http.so";
        // Neither: the name beside the program, for the message that it is missing.
        QCOMPARE(zkInstallation::ModuleFileFor(bin, "velquist-http.so"), beside);
        WriteTextFile(packaged, "ELF");
        QCOMPARE(zkInstallation::ModuleFileFor(bin, "velquist-http.so"), packaged);
        // A folder installation's (and the build tree's) own module comes first.
        WriteTextFile(beside, "ELF");
        QCOMPARE(zkInstallation::ModuleFileFor(bin, "velquist-http.so"), beside);
    }

    void machineSettingsOverrideThePackagesOnes() {
        QTemporaryDir root, etc;
        makeSystemLayout(root.path());
        const QString bin = root.path() + "/prefix/bin";
        zkInstallation::SetSystemConfigDirForTesting(etc.path());
        QCOMPARE(zkInstallation::SettingsIniPathFor(bin),
                 root.path() + "/prefix/share/velquist/Settings.ini");
        WriteTextFile(etc.path() + "/Settings.ini", "[Settings]\nRegistryKey=x\n");
        QCOMPARE(zkInstallation::SettingsIniPathFor(bin), etc.path() + "/Settings.ini");
        zkInstallation::SetSystemConfigDirForTesting(QString());
    }

    void firstStartSeedsTheUsersFolderOnce() {
        QTemporaryDir root;
        makeSystemLayout(root.path());
        const QString shared = root.path() + "/prefix/share/velquist";
        const QString working = root.path() + "/home/data/velquist";

        QCOMPARE(zkInstallation::PrepareWorkingDirFrom(shared, working), QString());
        struct stat st = {};
        QCOMPARE(::stat(QFile::encodeName(working).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0700));
        QCOMPARE(ReadWholeFile(working + "/SavedWindows/Running Up.zka"), QByteArray("window"));
        QCOMPARE(ReadWholeFile(working + "/Sounds/Chime.wav"), QByteArray("RIFF"));
        // The user's copy is theirs to change, though the package's file is read-only.
        QVERIFY(QFileInfo(working + "/SavedWindows/Running Up.zka").isWritable());

        // Later starts leave the folder as the user made it: a removed window stays removed,
        // a changed one keeps its changes.
        QVERIFY(QFile::remove(working + "/SavedWindows/Running Up.zka"));
        WriteTextFile(working + "/Sounds/Chime.wav", "mine");
        QCOMPARE(zkInstallation::PrepareWorkingDirFrom(shared, working), QString());
        QVERIFY(!QFileInfo::exists(working + "/SavedWindows/Running Up.zka"));
        QCOMPARE(ReadWholeFile(working + "/Sounds/Chime.wav"), QByteArray("mine"));
    }

    void anUnwritableHomeIsReported() {
        QTemporaryDir root;
        makeSystemLayout(root.path());
        WriteTextFile(root.path() + "/home/data", "a file where the folder should be");
        const QString problem = zkInstallation::PrepareWorkingDirFrom(
            root.path() + "/prefix/share/velquist", root.path() + "/home/data/velquist");
        QVERIFY2(problem.contains(root.path() + "/home/data/velquist"), qPrintable(problem));
    }
};

QTEST_GUILESS_MAIN(TInstallationTest)
#include "tst_installation.moc"
