// The INI document and the INI files on disk: profile reading rules, edits in place, line ends
// and encodings, atomic saving, and the cache of parsed files.
#include "config/zkIniFile.h"
#include "platform/zkAtomicFile.h"
#include "platform/zkErrors.h"
#include "zkTestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TIniDocument Doc(const char* text) {
    return TIniDocument::Parse(QByteArray(text));
}

QString Val(const TIniDocument& doc, const char* section, const char* key) {
    return doc.Value(QString::fromUtf8(section), QString::fromUtf8(key)).value_or("<missing>");
}

// Runs fn with writes beyond a few bytes failing as on a full disk (works for root too).
template <typename F> void WithFullDisk(F&& fn) {
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit tight = old;
    tight.rlim_cur = 16;
    setrlimit(RLIMIT_FSIZE, &tight);
    try {
        fn();
    } catch (...) {
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
        throw;
    }
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
}

} // namespace

class TestIniFile : public QObject {
    Q_OBJECT

private:
    QTemporaryDir Dir;
    QString path(const QString& name) const { return Dir.filePath(name); }

private slots:
    void init() { zkIni::ClearCache(); }

    // A file held in memory reads and saves like one on disk, and never touches the disk.
    void memoryFilesNeverTouchTheDisk() {
        const QString file = path("memory/in.ini");
        zkIni::SetMemoryFile(file, QByteArray("[A]\nk = 'v'\n"));
        QCOMPARE(zkIni::ReadValue(file, "a", "K"), std::optional<QString>("v"));
        zkIni::WriteValue(file, "A", "n", "2");
        zkIni::ClearCache();
        QCOMPARE(zkIni::ReadValue(file, "A", "n"), std::optional<QString>("2"));
        QCOMPARE(zkIni::ReadValue(file, "A", "k"), std::optional<QString>("v"));

        const QString missing = path("memory/none.ini");
        zkIni::SetMemoryFile(missing, std::nullopt);
        QVERIFY(!zkIni::ReadValue(missing, "A", "k"));
        zkIni::BeginBatch(missing);
        zkIni::WriteValue(missing, "B", "x", "1");
        zkIni::WriteValue(missing, "B", "y", "2");
        zkIni::CommitBatch(missing, "none.ini");
        zkIni::ClearCache();
        QCOMPARE(zkIni::SectionNames(missing), QStringList({"B"}));
        QVERIFY(!QFileInfo::exists(path("memory")));

        // Once ended, the name is a file on disk again (here: none).
        zkIni::ClearMemoryFiles();
        QVERIFY(!zkIni::ReadValue(file, "A", "k"));
    }

    // --- reading rules -----------------------------------------------------------------------

    void sectionsAndKeysIgnoreCase() {
        const TIniDocument doc = Doc("[Settings]\nProxyServer=host\n");
        QCOMPARE(Val(doc, "settings", "proxyserver"), QString("host"));
        QCOMPARE(Val(doc, "SETTINGS", "PROXYSERVER"), QString("host"));
        QVERIFY(doc.HasSection("sEtTiNgS"));
        QVERIFY(!doc.HasSection("Setting"));
    }

    void firstDuplicateWins() {
        const TIniDocument doc = Doc("[A]\nk=1\nK=2\n[a]\nk=3\nother=4\n");
        QCOMPARE(Val(doc, "A", "k"), QString("1"));
        // Keys of a later duplicate section are not seen at all.
        QCOMPARE(Val(doc, "A", "other"), QString("<missing>"));
        QCOMPARE(doc.SectionNames(), QStringList({"A"}));
        QCOMPARE(doc.KeyNames("a"), QStringList({"k"}));
    }

    void quotesAndBlanks() {
        const TIniDocument doc = Doc("[S]\n"
                                     "  spaced   =   value with  inner  blanks  \n"
                                     "dq=\"quoted text\"\n"
                                     "sq='single'\n"
                                     "twice=\"\"x\"\"\n"
                                     "mixed=\"abc'\n"
                                     "one=\"\n"
                                     "inner=a\"b\"c\n"
                                     "blankinside=\"  kept  \"\n"
                                     "empty=\n"
                                     "emptyquotes=\"\"\n");
        QCOMPARE(Val(doc, "S", "spaced"), QString("value with  inner  blanks"));
        QCOMPARE(Val(doc, "S", "dq"), QString("quoted text"));
        QCOMPARE(Val(doc, "S", "sq"), QString("single"));
        QCOMPARE(Val(doc, "S", "twice"), QString("\"x\""));
        QCOMPARE(Val(doc, "S", "mixed"), QString("\"abc'"));
        QCOMPARE(Val(doc, "S", "one"), QString("\""));
        QCOMPARE(Val(doc, "S", "inner"), QString("a\"b\"c"));
        QCOMPARE(Val(doc, "S", "blankinside"), QString("  kept  "));
        // Present but empty is not missing.
        QCOMPARE(Val(doc, "S", "empty"), QString(""));
        QCOMPARE(Val(doc, "S", "emptyquotes"), QString(""));
    }

    void linesThatAreNotKeys() {
        const TIniDocument doc = Doc("before=ignored\n"
                                     "[S]\n"
                                     "; comment=not a key\n"
                                     "# hash=not a key\n"
                                     "just some words\n"
                                     "=no name\n"
                                     "key=value=with=equals\n"
                                     "  [ Spaced Name ]  trailing junk\n"
                                     "x=1\n");
        QCOMPARE(doc.KeyNames("S"), QStringList({"key"}));
        QCOMPARE(Val(doc, "S", "key"), QString("value=with=equals"));
        QCOMPARE(Val(doc, "S", "; comment"), QString("<missing>"));
        QCOMPARE(Val(doc, "", "before"), QString("<missing>"));
        QCOMPARE(Val(doc, "Spaced Name", "x"), QString("1"));
        QCOMPARE(doc.SectionNames(), QStringList({"S", "Spaced Name"}));
    }

    void backslashSectionNames() {
        const TIniDocument doc =
            Doc("[\\Software\\Velquist Client\\Settings\\Layout\\MainWindow]\nTop=20\n");
        QCOMPARE(Val(doc, "\\software\\velquist client\\settings\\layout\\mainwindow", "top"),
                 QString("20"));
    }

    void keyNamesInFileOrder() {
        const TIniDocument doc = Doc("[ActiveX]\nZeta=1\nalpha=2\nZETA=3\nMiddle=4\n");
        QCOMPARE(doc.KeyNames("activex"), QStringList({"Zeta", "alpha", "Middle"}));
        QVERIFY(doc.KeyNames("missing").isEmpty());
    }

    void longValuesAreReadWhole() {
        const QString config = QString(5000, u'c') + QStringLiteral("end");
        TIniDocument doc;
        doc.SetValue("AlertWindow", "WindowConfig", config);
        const TIniDocument reread = TIniDocument::Parse(doc.Serialize());
        QCOMPARE(reread.Value("AlertWindow", "WindowConfig").value(), config);
    }

    // --- edits -------------------------------------------------------------------------------

    void editsKeepEverythingElse() {
        TIniDocument doc = Doc("; Velquist settings\n"
                               "\n"
                               "[Settings]\n"
                               "; the proxy\n"
                               "ProxyServer = old.example\n"
                               "unknown line\n"
                               "ProxyPort=8080\n"
                               "\n"
                               "[Other]\n"
                               "A=1\n");
        QVERIFY(doc.SetValue("settings", "proxyserver", "new.example"));
        QVERIFY(doc.SetValue("Settings", "ProxyUsername", "bob"));
        QVERIFY(doc.SetValue("Fresh", "Key", "v"));
        QCOMPARE(doc.Serialize(), QByteArray("; Velquist settings\n"
                                             "\n"
                                             "[Settings]\n"
                                             "; the proxy\n"
                                             "ProxyServer = new.example\n"
                                             "unknown line\n"
                                             "ProxyPort=8080\n"
                                             "ProxyUsername=bob\n"
                                             "\n"
                                             "[Other]\n"
                                             "A=1\n"
                                             "\n"
                                             "[Fresh]\n"
                                             "Key=v\n"));
    }

    void unchangedEditReportsNoChange() {
        TIniDocument doc = Doc("[S]\nk=1\n");
        QVERIFY(!doc.SetValue("S", "K", "1"));
        QVERIFY(doc.SetValue("S", "K", "2"));
    }

    void rewriteKeepsQuotesOfOldValue() {
        TIniDocument doc = Doc("[S]\nName = \"old value\"\n");
        doc.SetValue("S", "name", "new");
        QCOMPARE(doc.Serialize(), QByteArray("[S]\nName = \"new\"\n"));
    }

    void firstKeyOfSectionGoesBeforeTrailingBlanks() {
        TIniDocument doc = Doc("[Empty]\n; about it\n\n\n[Next]\nx=1\n");
        doc.SetValue("Empty", "k", "v");
        QCOMPARE(doc.Serialize(), QByteArray("[Empty]\n; about it\nk=v\n\n\n[Next]\nx=1\n"));
    }

    void writtenValuesReadBackUnchanged() {
        const QStringList values = {" leading", "trailing ", "\"quoted\"",  "'single'", "", "a = b",
                                    "\"",       "  ",        "tab\tinside", "ünïcödé €"};
        TIniDocument doc;
        for (int i = 0; i < values.size(); ++i)
            doc.SetValue("S", QString("k%1").arg(i), values[i]);
        const TIniDocument reread = TIniDocument::Parse(doc.Serialize());
        for (int i = 0; i < values.size(); ++i)
            QCOMPARE(reread.Value("S", QString("k%1").arg(i)).value(), values[i]);
    }

    void keyNamesTheFormatCannotHoldAreNotWritten() {
        TIniDocument doc = Doc("[S]\nk=1\n");
        for (const char* name : {"", "  ", "a=b", ";c", "#d", "[e]"})
            QVERIFY2(!doc.SetValue("S", name, "v") && !doc.SetValue("New", name, "v"), name);
        QCOMPARE(doc.Serialize(), QByteArray("[S]\nk=1\n"));
    }

    void lineBreaksInValueStayOnOneLine() {
        TIniDocument doc;
        doc.SetValue("S", "k", "one\ntwo\r\nthree");
        doc.SetValue("S", "after", "x");
        const TIniDocument reread = TIniDocument::Parse(doc.Serialize());
        QCOMPARE(reread.KeyNames("S"), QStringList({"k", "after"}));
        QCOMPARE(reread.Value("S", "after").value(), QString("x"));
    }

    void eraseSectionRemovesAllCopies() {
        TIniDocument doc = Doc("[A]\nx=1\n\n[B]\ny=2\n\n[a]\nz=3\n");
        QVERIFY(doc.EraseSection("a"));
        QVERIFY(!doc.HasSection("A"));
        QCOMPARE(doc.Serialize(), QByteArray("[B]\ny=2\n\n"));
        QVERIFY(!doc.EraseSection("A"));
        // Erasing and writing again, as saving a layout does, does not pile up blank lines.
        TIniDocument layout = Doc("[A]\nk=1\n\n[B]\nk=2\n");
        for (int round = 0; round < 3; ++round)
            for (const char* name : {"A", "B"}) {
                layout.EraseSection(name);
                layout.SetValue(name, "k", "v");
            }
        QCOMPARE(layout.Serialize(), QByteArray("[A]\nk=v\n\n[B]\nk=v\n"));
    }

    void removeKeyUncoversDuplicate() {
        TIniDocument doc = Doc("[S]\nk=1\nk=2\n");
        QVERIFY(doc.RemoveKey("S", "K"));
        QCOMPARE(doc.Value("S", "k").value(), QString("2"));
        QVERIFY(!doc.RemoveKey("S", "missing"));
    }

    // --- line ends and encodings -------------------------------------------------------------

    void lineEndsAreReadAndKept_data() {
        QTest::addColumn<QByteArray>("eol");
        QTest::newRow("LF") << QByteArray("\n");
        QTest::newRow("CRLF") << QByteArray("\r\n");
        QTest::newRow("CR") << QByteArray("\r");
    }
    void lineEndsAreReadAndKept() {
        QFETCH(QByteArray, eol);
        const QByteArray text = "[S]" + eol + "a=1" + eol + "b=2" + eol;
        TIniDocument doc = TIniDocument::Parse(text);
        QCOMPARE(doc.Value("S", "a").value(), QString("1"));
        QCOMPARE(doc.Value("S", "b").value(), QString("2"));
        doc.SetValue("S", "c", "3");
        doc.SetValue("T", "d", "4");
        QCOMPARE(doc.Serialize(), "[S]" + eol + "a=1" + eol + "b=2" + eol + "c=3" + eol + eol +
                                      "[T]" + eol + "d=4" + eol);
    }

    void byteOrderMarkIsReadAndKept() {
        TIniDocument doc = TIniDocument::Parse("\xEF\xBB\xBF[S]\r\nk=v\r\n");
        QVERIFY(doc.hasByteOrderMark());
        QCOMPARE(doc.SectionNames(), QStringList({"S"}));
        QCOMPARE(doc.Value("S", "k").value(), QString("v"));
        doc.SetValue("S", "k", "w");
        QCOMPARE(doc.Serialize(), QByteArray("\xEF\xBB\xBF[S]\r\nk=w\r\n"));
    }

    void missingFinalLineEndIsKept() {
        TIniDocument doc = Doc("[S]\nk=1");
        QCOMPARE(doc.Value("S", "k").value(), QString("1"));
        doc.SetValue("S", "k", "2");
        QCOMPARE(doc.Serialize(), QByteArray("[S]\nk=2"));
        doc.SetValue("S", "n", "3");
        QCOMPARE(doc.Serialize(), QByteArray("[S]\nk=2\nn=3\n"));
    }

    void latin1FileIsReadAndSavedAsUtf8() {
        // "Zürich" and "café" as a Windows editor would have saved them.
        const QByteArray latin1 = "[S]\r\nCity=Z\xFCrich\r\nDrink=caf\xE9\r\n";
        TIniDocument doc = TIniDocument::Parse(latin1);
        QVERIFY(doc.wasLatin1());
        QCOMPARE(doc.Value("S", "City").value(), QString::fromUtf8("Zürich"));
        QCOMPARE(doc.Value("S", "Drink").value(), QString::fromUtf8("café"));
        QCOMPARE(doc.Serialize(),
                 QString::fromUtf8("[S]\r\nCity=Zürich\r\nDrink=café\r\n").toUtf8());
        const TIniDocument utf8 =
            TIniDocument::Parse(QString::fromUtf8("[S]\nk=Zürich\n").toUtf8());
        QVERIFY(!utf8.wasLatin1());
        QCOMPARE(utf8.Value("S", "k").value(), QString::fromUtf8("Zürich"));
    }

    void junkDoesNotBreakTheReader() {
        QRandomGenerator random(20240611);
        for (int round = 0; round < 200; ++round) {
            QByteArray junk(int(random.bounded(1, 4000)), Qt::Uninitialized);
            for (char& c : junk) {
                // Mostly the characters that matter to the parser, some of any value.
                static const char special[] = "[]=;#\"' \t\r\n\0\xEF\xBB\xBF\xC3";
                c = random.bounded(3) == 0 ? char(random.bounded(256))
                                           : special[random.bounded(int(sizeof special))];
            }
            TIniDocument doc = TIniDocument::Parse(junk);
            for (const QString& section : doc.SectionNames())
                for (const QString& key : doc.KeyNames(section))
                    QVERIFY(doc.Value(section, key).has_value());
            doc.SetValue("junk", "k", "v");
            const TIniDocument reread = TIniDocument::Parse(doc.Serialize());
            QCOMPARE(reread.Value("junk", "k").value_or("<missing>"),
                     doc.Value("junk", "k").value());
        }
    }

    void savesKeepTheModeAndClearWhatACrashLeft() {
        const QString file = path("modes.zkl");
        const auto modeOf = [&] {
            struct stat st = {};
            ::stat(QFile::encodeName(file).constData(), &st);
            return st.st_mode & 07777;
        };
        const mode_t mask = ::umask(0);
        ::umask(mask);
        zkIni::WriteValue(file, "A", "k", "1");
        QCOMPARE(modeOf(), 0644 & ~mask); // a new file: as the umask says, but never 0666
        ::chmod(QFile::encodeName(file).constData(), 0640);
        // Left by saves that were killed; a name that only looks alike is not ours.
        const QStringList left = {file + ".tmp-a1B2c3", file + ".tmp-ZZZZZZ"};
        for (const QString& l : left)
            WriteTextFile(l, "half a layout");
        WriteTextFile(file + ".tmp-backup.old", "kept");
        WriteTextFile(file + ".backup", "kept");
        zkIni::WriteValue(file, "A", "k", "2");
        for (const QString& l : left)
            QVERIFY2(!QFileInfo::exists(l), qPrintable(l));
        QVERIFY(QFileInfo::exists(file + ".tmp-backup.old"));
        QVERIFY(QFileInfo::exists(file + ".backup"));
        QCOMPARE(modeOf(), mode_t(0640));
        QCOMPARE(zkIni::ReadValue(file, "A", "k").value_or(""), QString("2"));
    }

    // A window's file names the programs its actions run: nobody else may edit it, whatever
    // the umask or the mode the file had.
    void savesAreNeverWritableByOthers() {
        const QString file = path("open.zka");
        const mode_t mask = ::umask(0);
        zkIni::WriteValue(file, "Window", "Action", "run");
        struct stat st = {};
        QCOMPARE(::stat(QFile::encodeName(file).constData(), &st), 0);
        const mode_t created = st.st_mode & 07777;
        ::chmod(QFile::encodeName(file).constData(), 0666);
        zkIni::WriteValue(file, "Window", "Action", "other");
        ::stat(QFile::encodeName(file).constData(), &st);
        ::umask(mask);
        QCOMPARE(created, mode_t(0644));
        QCOMPARE(st.st_mode & 07777, mode_t(0644));
    }

    // Start-up clears what killed saves left, but not a save that may still be running.
    void staleTemporariesAreCleared() {
        const QString file = path("left.zkl");
        const QStringList stale = {file + ".tmp-a1B2c3", path("other.zka") + ".tmp-Q9q9Q9"};
        // Kept: too new, seven or five characters, another infix, a character mkstemp does not
        // use, nothing before the infix, no temporary at all.
        const QStringList kept = {file + ".tmp-fresh1", file + ".tmp-toolong1", file + ".tmp-short",
                                  file + ".tmpXabcdef", file + ".tmp-a_B2c3",   path(".tmp-a1B2c3"),
                                  path("plain.zkl")};
        for (const QString& name : stale + kept)
            WriteTextFile(name, "half a layout");
        const QByteArray oldTime = QFile::encodeName(file + ".tmp-toolong1");
        const timespec old[2] = {{1000, 0}, {1000, 0}};
        for (const QString& name :
             stale + QStringList{file + ".tmpXabcdef", path("plain.zkl"), file + ".tmp-toolong1",
                                 file + ".tmp-short", file + ".tmp-a_B2c3", path(".tmp-a1B2c3")})
            QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(name).constData(), old, 0), 0);
        // A file's own temporaries, of any age; another file's and look-alikes are not its.
        QStringList own = zkAtomicFile::LeftTemporaries(file);
        own.sort();
        QCOMPARE(own, (QStringList{file + ".tmp-a1B2c3", file + ".tmp-fresh1"}));
        QCOMPARE(zkAtomicFile::RemoveStaleTemporaries(Dir.path()), 2);
        for (const QString& name : stale)
            QVERIFY2(!QFileInfo::exists(name), qPrintable(name));
        for (const QString& name : kept)
            QVERIFY2(QFileInfo::exists(name), qPrintable(name));
    }

    void fiftyMegabyteFile() {
        QByteArray big;
        big.reserve(52 * 1024 * 1024);
        for (int s = 0; big.size() < 50 * 1024 * 1024; ++s) {
            big += "[Section" + QByteArray::number(s) + "]\r\n";
            for (int k = 0; k < 100; ++k)
                big += "Key" + QByteArray::number(k) + "=" + QByteArray(40, 'v') + "\r\n";
        }
        big += QByteArray(1024 * 1024, '\xFF'); // and a megabyte of junk on one line
        const QString file = path("big.ini");
        WriteTextFile(file, big);
        QCOMPARE(zkIni::ReadValue(file, "section0", "key99").value(), QString(40, u'v'));
        zkIni::WriteValue(file, "Section0", "Key0", "changed");
        QCOMPARE(zkIni::ReadValue(file, "Section0", "Key0").value(), QString("changed"));
        QFile::remove(file);
    }

    // --- files on disk -----------------------------------------------------------------------

    void missingFileReadsEmptyAndIsCreatedOnWrite() {
        const QString file = path("new.ini");
        QVERIFY(!zkIni::ReadValue(file, "S", "k"));
        QVERIFY(!zkIni::SectionExists(file, "S"));
        zkIni::WriteValue(file, "S", "k", "v");
        QCOMPARE(ReadWholeFile(file), QByteArray("[S]\nk=v\n"));
    }

    void relativeNamesUseTheCurrentDirectory() {
        const QString old = QDir::currentPath();
        QDir::setCurrent(Dir.path());
        zkIni::WriteValue("relative.ini", "S", "k", "v");
        QDir::setCurrent(old);
        QCOMPARE(ReadWholeFile(path("relative.ini")), QByteArray("[S]\nk=v\n"));
    }

    void cacheSeesOutsideChanges() {
        const QString file = path("changing.ini");
        WriteTextFile(file, "[S]\nk=1\n");
        QCOMPARE(zkIni::ReadValue(file, "S", "k").value(), QString("1"));
        // Another size.
        WriteTextFile(file, "[S]\nk=22\n");
        QCOMPARE(zkIni::ReadValue(file, "S", "k").value(), QString("22"));
        // The same size, written in place with another modification time.
        WriteTextFile(file, "[S]\nk=33\n");
        QFile touched(file);
        QVERIFY(touched.open(QIODevice::ReadWrite));
        QVERIFY(touched.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                                    QFileDevice::FileModificationTime));
        touched.close();
        QCOMPARE(zkIni::ReadValue(file, "S", "k").value(), QString("33"));
        // Replaced by another file (a new inode), as editors and our own saves do.
        WriteTextFile(path("other.ini"), "[S]\nk=44\n");
        QFile::remove(file);
        QVERIFY(QFile::rename(path("other.ini"), file));
        QCOMPARE(zkIni::ReadValue(file, "S", "k").value(), QString("44"));
        // Removed.
        QFile::remove(file);
        QVERIFY(!zkIni::ReadValue(file, "S", "k"));
    }

    void writeWorksOnTheCurrentFile() {
        const QString file = path("merge.ini");
        WriteTextFile(file, "[S]\na=1\n");
        QCOMPARE(zkIni::ReadValue(file, "S", "a").value(), QString("1"));
        WriteTextFile(file, "[S]\na=1\nb=outside\n");
        zkIni::WriteValue(file, "S", "c", "3");
        QCOMPARE(ReadWholeFile(file), QByteArray("[S]\na=1\nb=outside\nc=3\n"));
    }

    void unchangedWriteLeavesFileAlone() {
        const QString file = path("same.ini");
        WriteTextFile(file, "[S]\nk=1\n");
        const QDateTime old = QDateTime::currentDateTime().addSecs(-7200);
        {
            QFile f(file);
            QVERIFY(f.open(QIODevice::ReadWrite));
            f.setFileTime(old, QFileDevice::FileModificationTime);
        }
        zkIni::WriteValue(file, "S", "K", "1");
        QCOMPARE(QFileInfo(file).lastModified().toSecsSinceEpoch(), old.toSecsSinceEpoch());
    }

    // A batch that ends with the same bytes (a layout saved again as it was) leaves the file
    // in place; a file whose mode a save would change, or that differs, is replaced.
    void sameBytesAreNotWrittenAgain() {
        const QString file = QFileInfo(path("again.zkl")).absoluteFilePath();
        const auto inode = [&] {
            struct stat st = {};
            ::stat(QFile::encodeName(file).constData(), &st);
            return st.st_ino;
        };
        const auto rewrite = [&](const QString& value) {
            zkIni::BeginBatch(file);
            zkIni::EraseSection(file, "Layout");
            zkIni::WriteValue(file, "Layout", "AlertCount", value);
            zkIni::CommitBatch(file, "again.zkl");
        };
        rewrite("2");
        const ino_t first = inode();
        rewrite("2");
        QCOMPARE(inode(), first);
        ::chmod(QFile::encodeName(file).constData(), 0664);
        rewrite("2");
        QVERIFY(inode() != first);
        struct stat st = {};
        ::stat(QFile::encodeName(file).constData(), &st);
        QCOMPARE(st.st_mode & 07777, mode_t(0644));
        const ino_t second = inode();
        rewrite("3");
        QVERIFY(inode() != second);
        QCOMPARE(zkIni::ReadValue(file, "Layout", "AlertCount").value_or(""), QString("3"));
        // A secret's file that others could read is made private even with the same bytes.
        zkIni::MarkPrivate(file);
        ::chmod(QFile::encodeName(file).constData(), 0644);
        rewrite("3");
        ::stat(QFile::encodeName(file).constData(), &st);
        QCOMPARE(st.st_mode & 07777, mode_t(0600));
    }

    void failedWriteInReadOnlyFolder() {
        if (geteuid() == 0)
            QSKIP("root writes into read-only folders; the full-disk case covers root");
        const QString folder = path("locked");
        QDir().mkpath(folder);
        const QString file = folder + "/Local.ini";
        WriteTextFile(file, "[Settings]\nProxyPort=1\n");
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
        bool raised = false;
        try {
            zkIni::WriteValue(file, "Settings", "ProxyPort", "2");
        } catch (const EIniFileError& e) {
            raised = true;
            QCOMPARE(e.message(), QString("Unable to write to %1").arg(file));
        }
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(raised);
        QCOMPARE(ReadWholeFile(file), QByteArray("[Settings]\nProxyPort=1\n"));
        QCOMPARE(zkIni::ReadValue(file, "Settings", "ProxyPort").value(), QString("1"));
    }

    void failedWriteOnFullDisk() {
        const QString file = path("full.ini");
        const QByteArray before = "[Settings]\nProxyPort=1\n";
        WriteTextFile(file, before);
        QCOMPARE(zkIni::ReadValue(file, "Settings", "ProxyPort").value(), QString("1"));
        bool raised = false;
        WithFullDisk([&] {
            try {
                zkIni::WriteValue(file, "Settings", "ProxyServer", QString(200, u'x'));
            } catch (const EIniFileError& e) {
                raised = true;
                QCOMPARE(e.message(), QString("Unable to write to %1").arg(file));
            }
        });
        QVERIFY(raised);
        QCOMPARE(ReadWholeFile(file), before);
        QVERIFY(!zkIni::ReadValue(file, "Settings", "ProxyServer"));
        // No temporary file is left beside it.
        QCOMPARE(QDir(Dir.path()).entryList({"full.ini*"}, QDir::Files), QStringList({"full.ini"}));
    }

    void unreadableFileIsNeverReplaced() {
        // A folder where the file should be: reads see nothing, writes fail.
        const QString file = path("folder.ini");
        QDir().mkpath(file);
        QVERIFY(!zkIni::SectionExists(file, "S"));
        QVERIFY_THROWS_EXCEPTION(EIniFileError, zkIni::WriteValue(file, "S", "k", "v"));
        QVERIFY(QFileInfo(file).isDir());
    }

    void savedFileKeepsItsPermissions() {
        const QString file = path("perm.ini");
        WriteTextFile(file, "[S]\nk=1\n");
        QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
        zkIni::WriteValue(file, "S", "k", "2");
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(file).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0600u);
    }
};

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_IniFile.moc"
