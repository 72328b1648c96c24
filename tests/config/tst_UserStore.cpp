// The per-user store: key paths, value kinds, batches, damage recovery, file permissions and
// writers in parallel.
#include "config/zkUserStore.h"
#include "platform/zkErrors.h"
#include "zkTestSupport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QThread>
#include <QtTest>

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

namespace {

unsigned Mode(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_mode & 0777;
}

QString IntegrityOf(const QString& file) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(QFile::encodeName(file).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr);
    QString result;
    if (sqlite3_step(statement) == SQLITE_ROW)
        result =
            QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return result;
}

} // namespace

class TestUserStore : public QObject {
    Q_OBJECT

private:
    QTemporaryDir Dir;
    int Serial = 0;
    // A fresh store file for each test.
    QString freshFile() {
        return Dir.filePath(QString("store%1/user-store.sqlite3").arg(++Serial));
    }

private slots:
    void keyPathsIgnoreCaseAndKeepIt() {
        TUserStore store(freshFile());
        QVERIFY(store.CreateKey("\\Software\\Velquist Client\\Settings"));
        QVERIFY(store.KeyExists("\\software\\VELQUIST CLIENT\\settings"));
        QVERIFY(store.KeyExists("Software\\Velquist Client\\"));
        QVERIFY(store.KeyExists("\\\\Software\\\\Velquist Client"));
        QVERIFY(!store.KeyExists("\\Software\\Velquist"));
        // Creating it again in other letters keeps the first spelling.
        QVERIFY(store.CreateKey("\\SOFTWARE\\velquist client\\Settings\\Updates"));
        QCOMPARE(store.SubKeys("\\"), QStringList({"Software"}));
        QCOMPARE(store.SubKeys("\\software"), QStringList({"Velquist Client"}));
        QCOMPARE(store.SubKeys("\\software\\velquist client\\settings"), QStringList({"Updates"}));
    }

    void keyExistsWithoutValues() {
        TUserStore store(freshFile());
        QVERIFY(!store.KeyExists("\\A"));
        QVERIFY(store.CreateKey("\\A\\B\\C"));
        for (const char* key : {"\\A", "\\A\\B", "\\A\\B\\C"}) {
            QVERIFY2(store.KeyExists(key), key);
            QVERIFY(store.ValueNames(key).isEmpty());
        }
        QVERIFY(store.KeyExists("\\")); // the root always exists
    }

    void setValueCreatesParents() {
        TUserStore store(freshFile());
        QVERIFY(store.SetValue("\\Software\\Velquist Client\\Settings\\Updates", "UpdateSchedule",
                               TStoreValue::Dword(2)));
        QVERIFY(store.KeyExists("\\Software\\Velquist Client\\Settings"));
        QVERIFY(store.KeyExists("\\Software\\Velquist Client"));
        QCOMPARE(store.SubKeys("\\Software\\Velquist Client"), QStringList({"Settings"}));
    }

    void keyNamesTooLongCannotBeCreated() {
        TUserStore store(freshFile());
        const QString longName(TUserStore::MaxKeyNameLength + 1, u'k');
        QVERIFY(!store.CreateKey("\\Parent\\" + longName));
        QVERIFY(!store.SetValue("\\Parent\\" + longName + "\\Child", "v", TStoreValue::Dword(1)));
        // Nothing at all was written, not even the parent.
        QVERIFY(!store.KeyExists("\\Parent"));
        QVERIFY(store.CreateKey("\\Parent\\" + QString(TUserStore::MaxKeyNameLength, u'k')));
    }

    void everyKindRoundTrips() {
        const QString file = freshFile();
        const QList<TStoreValue> values = {
            TStoreValue::Dword(-16777208),
            TStoreValue::Dword(0),
            TStoreValue::Qword(std::numeric_limits<int64_t>::min()),
            TStoreValue::Sz(QString::fromUtf8("Zürich \"quoted\" \\ back")),
            TStoreValue::Sz(QString()),
            TStoreValue::ExpandSz("$HOME/Sounds"),
            TStoreValue::Binary(QByteArray("\x00\x01\xFF\x00", 4)),
            TStoreValue::Binary(QByteArray()),
            TStoreValue::MultiSz({"one", "", "three"}),
            TStoreValue::MultiSz({}),
        };
        {
            TUserStore store(file);
            for (int i = 0; i < values.size(); ++i)
                QVERIFY(store.SetValue("\\Kinds", QString("v%1").arg(i), values[i]));
        }
        TUserStore reopened(file);
        for (int i = 0; i < values.size(); ++i) {
            TStoreValue read;
            QVERIFY(reopened.GetValue("\\kinds", QString("V%1").arg(i), read));
            QVERIFY2(read == values[i], qPrintable(QString("value %1").arg(i)));
        }
        TStoreValue missing;
        QVERIFY(!reopened.GetValue("\\Kinds", "absent", missing));
        QVERIFY(!reopened.GetValue("\\NoSuchKey", "v0", missing));
    }

    void valueNamesIgnoreCaseKeepCaseAndOrder() {
        TUserStore store(freshFile());
        const QString key = "\\Software\\Velquist Client\\Settings";
        store.SetValue(key, "UserName", TStoreValue::Sz("alice"));
        store.SetValue(key, "Password", TStoreValue::Sz("secret"));
        store.SetValue(key, "", TStoreValue::Sz("default value"));
        // Rewriting under other letters and another kind keeps name and place.
        store.SetValue(key, "USERNAME", TStoreValue::ExpandSz("bob"));
        QCOMPARE(store.ValueNames(key), QStringList({"UserName", "Password", ""}));
        TStoreValue value;
        QVERIFY(store.GetValue(key, "username", value));
        QCOMPARE(value.Kind, TValueKind::ExpandSz);
        QCOMPARE(value.Text, QString("bob"));
        QVERIFY(store.GetValue(key, "", value));
        QCOMPARE(value.Text, QString("default value"));
    }

    void deleteKeyTakesItsSubtreeOnly() {
        TUserStore store(freshFile());
        store.SetValue("\\A\\B", "x", TStoreValue::Dword(1));
        store.SetValue("\\A\\B\\C\\D", "y", TStoreValue::Dword(2));
        store.SetValue("\\A\\BC", "z", TStoreValue::Dword(3)); // shares the prefix "\A\B"
        store.SetValue("\\A", "w", TStoreValue::Dword(4));
        QVERIFY(store.DeleteKey("\\a\\b"));
        QVERIFY(!store.KeyExists("\\A\\B"));
        QVERIFY(!store.KeyExists("\\A\\B\\C\\D"));
        QVERIFY(store.KeyExists("\\A\\BC"));
        QCOMPARE(store.SubKeys("\\A"), QStringList({"BC"}));
        TStoreValue value;
        QVERIFY(store.GetValue("\\A\\BC", "z", value));
        QVERIFY(store.GetValue("\\A", "w", value));
        QVERIFY(!store.DeleteKey("\\A\\B"));
        // A key created again under the old name starts empty.
        store.CreateKey("\\A\\B");
        QVERIFY(store.ValueNames("\\A\\B").isEmpty());
        QVERIFY(store.SubKeys("\\A\\B").isEmpty());
    }

    void deleteValue() {
        TUserStore store(freshFile());
        store.SetValue("\\K", "a", TStoreValue::Dword(1));
        store.SetValue("\\K", "b", TStoreValue::Dword(2));
        QVERIFY(store.DeleteValue("\\k", "A"));
        QVERIFY(!store.DeleteValue("\\k", "A"));
        QVERIFY(!store.DeleteValue("\\missing", "b"));
        QCOMPARE(store.ValueNames("\\K"), QStringList({"b"}));
        QVERIFY(store.KeyExists("\\K"));
    }

    void deletingTheRootEmptiesTheStore() {
        TUserStore store(freshFile());
        store.SetValue("\\", "rootValue", TStoreValue::Dword(1));
        store.SetValue("\\A\\B", "x", TStoreValue::Dword(1));
        QVERIFY(store.DeleteKey("\\"));
        QVERIFY(store.KeyExists("\\"));
        QVERIFY(store.SubKeys("\\").isEmpty());
        QVERIFY(store.ValueNames("\\").isEmpty());
        QVERIFY(store.SetValue("\\A", "again", TStoreValue::Dword(2)));
    }

    void batchesCommitRollBackAndNest() {
        const QString file = freshFile();
        TUserStore store(file);
        TUserStore other(file); // another connection sees only what is committed
        TStoreValue value;
        {
            TUserStoreBatch batch(store);
            store.SetValue("\\Layout", "dropped", TStoreValue::Dword(1));
            QVERIFY(store.GetValue("\\Layout", "dropped", value)); // visible inside
        }
        QVERIFY(!store.KeyExists("\\Layout"));

        {
            TUserStoreBatch outer(store);
            store.SetValue("\\Layout", "outer", TStoreValue::Dword(1));
            {
                TUserStoreBatch inner(store);
                store.SetValue("\\Layout", "innerDropped", TStoreValue::Dword(2));
            }
            {
                TUserStoreBatch inner(store);
                store.SetValue("\\Layout", "innerKept", TStoreValue::Dword(3));
                inner.Commit();
                QCOMPARE(store.batchDepth(), 1);
            }
            QVERIFY(!other.KeyExists("\\Layout")); // an inner commit reaches no file
            outer.Commit();
        }
        QCOMPARE(store.batchDepth(), 0);
        QCOMPARE(other.ValueNames("\\Layout"), QStringList({"outer", "innerKept"}));
    }

    void damagedFileIsMovedAside_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("text") << QByteArray("this is not a database\n");
        QTest::newRow("binary junk") << QByteArray(8192, '\xA5');
        QByteArray header("SQLite format 3\0", 16);
        QTest::newRow("damaged header") << header + QByteArray(4080, '\x7F');
    }
    void damagedFileIsMovedAside() {
        QFETCH(QByteArray, content);
        const QString file = freshFile();
        WriteTextFile(file, content);
        TUserStore store(file);
        QVERIFY(store.isPersistent());
        QVERIFY(store.SubKeys("\\").isEmpty());
        QVERIFY(store.SetValue("\\After", "v", TStoreValue::Dword(1)));

        const QFileInfo info(file);
        const QStringList aside =
            info.dir().entryList({info.fileName() + ".corrupt-*"}, QDir::Files);
        QCOMPARE(aside.size(), 1);
        QVERIFY2(QRegularExpression("^user-store\\.sqlite3\\.corrupt-\\d{8}-\\d{6}$")
                     .match(aside.front())
                     .hasMatch(),
                 qPrintable(aside.front()));
        QCOMPARE(ReadWholeFile(info.dir().filePath(aside.front())), content);
    }

    void unreadableFileIsMovedAside() {
        if (geteuid() == 0)
            QSKIP("root reads every file");
        const QString file = freshFile();
        { TUserStore create(file); }
        QFile::setPermissions(file, QFileDevice::Permissions());
        TUserStore store(file);
        QVERIFY(store.isPersistent());
        QVERIFY(store.SetValue("\\A", "v", TStoreValue::Dword(1)));
        QCOMPARE(QFileInfo(file).dir().entryList({"*.corrupt-*"}, QDir::Files).size(), 1);
    }

    void foreignDatabaseIsMovedAside() {
        const QString file = freshFile();
        QDir().mkpath(QFileInfo(file).absolutePath());
        sqlite3* db = nullptr;
        sqlite3_open(QFile::encodeName(file).constData(), &db);
        sqlite3_exec(db, "CREATE TABLE keys(something_else INTEGER)", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        TUserStore store(file);
        QVERIFY(store.SetValue("\\A", "v", TStoreValue::Dword(1)));
        QCOMPARE(QFileInfo(file).dir().entryList({"*.corrupt-*"}, QDir::Files).size(), 1);
    }

    // Never through a link, and never into another program's database: each is moved aside as
    // it was (a link itself), and an empty store started.
    void linkedOrForeignFileIsMovedAsideUntouched() {
        const QString file = freshFile();
        const QString foreign = Dir.filePath("mail/index.sqlite");
        WriteForeignDatabase(foreign);
        QDir().mkpath(QFileInfo(file).absolutePath());
        const QByteArray original = ReadWholeFile(foreign);
        QVERIFY(QFile::link(foreign, file));
        {
            TUserStore store(file);
            QVERIFY(store.isPersistent());
            QVERIFY(store.SetValue("\\A", "v", TStoreValue::Dword(1)));
        }
        QVERIFY(!QFileInfo(file).isSymLink());
        QCOMPARE(Mode(file), 0600u);
        QCOMPARE(ReadWholeFile(foreign), original);
        QCOMPARE(ModeBits(foreign), 0644u);
        QVERIFY(!QFile::exists(foreign + "-wal"));
        const QStringList aside = QFileInfo(file).dir().entryList({"*.corrupt-*"}, QDir::Files);
        QCOMPARE(aside.size(), 1);
        QCOMPARE(QFileInfo(QFileInfo(file).dir().filePath(aside.front())).symLinkTarget(),
                 QFileInfo(foreign).canonicalFilePath());
        QCOMPARE(TUserStore::TakeSetAsideFile(), QFileInfo(file).dir().filePath(aside.front()));

        // A real file in its place, but another program's: not switched to a log, no tables
        // added.
        QVERIFY(QFile::remove(QFileInfo(file).dir().filePath(aside.front())));
        for (const char* suffix : {"", "-wal", "-shm"})
            QFile::remove(file + suffix);
        QVERIFY(QFile::copy(foreign, file));
        {
            TUserStore store(file);
            QVERIFY(store.SetValue("\\A", "v", TStoreValue::Dword(2)));
        }
        const QStringList moved = QFileInfo(file).dir().entryList({"*.corrupt-*"}, QDir::Files);
        QCOMPARE(moved, QStringList{moved.value(0)});
        QCOMPARE(ReadWholeFile(QFileInfo(file).dir().filePath(moved.value(0))), original);
        TUserStore::TakeSetAsideFile();
    }

    // A store set up before opens without a write: also while another process is in the middle
    // of one (a link's launch writing to the URL mailbox, say), at once and on disk.
    void setUpStoreOpensWhileAnotherWrites() {
        const QString file = freshFile();
        {
            TUserStore create(file);
            QVERIFY(create.SetValue("\\A", "v", TStoreValue::Dword(7)));
        }
        sqlite3* writer = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(file).constData(), &writer), SQLITE_OK);
        QCOMPARE(sqlite3_exec(writer, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
        {
            TUserStore store(file);
            QVERIFY(store.isPersistent());
            TStoreValue value;
            QVERIFY(store.GetValue("\\a", "V", value));
            QCOMPARE(value.Number, int64_t(7));
        }
        QCOMPARE(sqlite3_exec(writer, "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(writer);
        // Its root key gone (an old file, a hand edit), the set-up puts it back.
        QCOMPARE(sqlite3_open(QFile::encodeName(file).constData(), &writer), SQLITE_OK);
        QCOMPARE(sqlite3_exec(writer, "DELETE FROM keys WHERE id=1", nullptr, nullptr, nullptr),
                 SQLITE_OK);
        sqlite3_close(writer);
        TUserStore store(file);
        QVERIFY(store.isPersistent());
        QVERIFY(store.SetValue("\\B", "w", TStoreValue::Dword(8)));
        QVERIFY(store.KeyExists("\\"));
    }

    void filesArePrivate() {
        const QString file = freshFile();
        QDir().mkpath(QFileInfo(file).absolutePath());
        QFile::setPermissions(QFileInfo(file).absolutePath(), QFileDevice::Permissions(0x7755));
        TUserStore store(file);
        store.SetValue("\\A", "v", TStoreValue::Dword(1));
        QCOMPARE(Mode(QFileInfo(file).absolutePath()), 0700u);
        QCOMPARE(Mode(file), 0600u);
        QVERIFY(QFile::exists(file + "-wal"));
        QCOMPARE(Mode(file + "-wal"), 0600u);
        QCOMPARE(Mode(file + "-shm"), 0600u);
    }

    void existingFileIsMadePrivate() {
        const QString file = freshFile();
        { TUserStore store(file); }
        QFile::setPermissions(file, QFileDevice::Permissions(0x6644));
        TUserStore store(file);
        QCOMPARE(Mode(file), 0600u);
    }

    void instanceFollowsConfigHome() {
        TTestHome home;
        TUserStore::ResetInstance();
        QCOMPARE(TUserStore::Instance().fileName(),
                 home.configHome() + "/velquist/user-store.sqlite3");
        QVERIFY(TUserStore::Instance().SetValue("\\URL Handler", "", TStoreValue::Sz("link")));
        TUserStore::ResetInstance();
        TStoreValue value;
        QVERIFY(TUserStore::Instance().GetValue("\\url handler", "", value));
        QCOMPARE(value.Text, QString("link"));
        TUserStore::ResetInstance();
    }

    // Two connections writing the same keys at full speed, as two launches posting to the URL
    // mailbox would: no write may fail and the file must stay sound.
    void parallelWritersBothSucceed() {
        const QString file = freshFile();
        { TUserStore create(file); }
        constexpr int Writes = 300;
        std::atomic<int> failures{0};
        auto writer = [&](int id) {
            try {
                TUserStore store(file);
                for (int i = 0; i < Writes; ++i) {
                    store.SetValue("\\Software\\Velquist Client\\URL Handler", "",
                                   TStoreValue::Sz(QString("writer %1 link %2").arg(id).arg(i)));
                    if (i % 50 == 0) {
                        TUserStoreBatch batch(store);
                        for (int k = 0; k < 20; ++k)
                            store.SetValue(QString("\\Writer%1\\Batch%2").arg(id).arg(i),
                                           QString("v%1").arg(k), TStoreValue::Dword(k));
                        batch.Commit();
                    }
                    TStoreValue value;
                    store.GetValue("\\Software\\Velquist Client\\URL Handler", "", value);
                }
                store.SetValue(QString("\\Writer%1").arg(id), "done", TStoreValue::Dword(1));
            } catch (const EStoreError& e) {
                qWarning("writer %d: %s", id, qPrintable(e.message()));
                ++failures;
            }
        };
        QThread* first = QThread::create(writer, 1);
        QThread* second = QThread::create(writer, 2);
        first->start();
        second->start();
        QVERIFY(first->wait(120000));
        QVERIFY(second->wait(120000));
        delete first;
        delete second;
        QCOMPARE(failures.load(), 0);

        TUserStore store(file);
        TStoreValue value;
        for (int id : {1, 2}) {
            QVERIFY(store.GetValue(QString("\\Writer%1").arg(id), "done", value));
            QCOMPARE(store.SubKeys(QString("\\Writer%1").arg(id)).size(), Writes / 50);
        }
        QVERIFY(store.GetValue("\\Software\\Velquist Client\\URL Handler", "", value));
        QVERIFY(value.Text.endsWith(QString("link %1").arg(Writes - 1)));
        QCOMPARE(IntegrityOf(file), QString("ok"));
    }
};

QTEST_GUILESS_MAIN(TestUserStore)
#include "tst_UserStore.moc"
