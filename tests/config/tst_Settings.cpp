// The value layer over both stores: reading rules and text forms, records, batches.
#include "config/zkIniFile.h"
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "platform/zkErrors.h"
#include "zkTestSupport.h"

#include <QDir>
#include <QLocale>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

namespace {

const QString Updates = QStringLiteral("\\Software\\Velquist Client\\Settings\\Updates");

// Sets the default locale for one scope.
struct TLocaleScope {
    QLocale Old;
    explicit TLocaleScope(QLocale::Language language, QLocale::Territory territory) {
        QLocale::setDefault(QLocale(language, territory));
    }
    ~TLocaleScope() { QLocale::setDefault(Old); }
};

QByteArray LittleEndian(double value) {
    QByteArray bytes(8, Qt::Uninitialized);
    qToLittleEndian(value, bytes.data());
    return bytes;
}

} // namespace

class TestSettings : public QObject {
    Q_OBJECT

private:
    QTemporaryDir Dir;
    std::unique_ptr<TUserStore> Store;
    int Serial = 0;
    TSettingsStore reg() { return TSettingsStore::Registry(*Store); }
    QString iniPath(const QString& name) { return Dir.filePath(name); }
    TSettingsStore ini(const QString& text, const QString& name = QString()) {
        const QString file = iniPath(name.isEmpty() ? QString("f%1.ini").arg(++Serial) : name);
        WriteTextFile(file, text.toUtf8());
        return TSettingsStore::IniFile(file);
    }
    void put(const QString& path, const QString& name, const TStoreValue& value) {
        QVERIFY(Store->SetValue(path, name, value));
    }

private slots:
    void init() {
        Store =
            std::make_unique<TUserStore>(Dir.filePath(QString("s%1/store.sqlite3").arg(++Serial)));
        zkIni::ClearCache();
    }
    void cleanup() { Store.reset(); }

    // --- per-user store ----------------------------------------------------------------------

    void storeIntegersAreDwordsOnly() {
        put("\\K", "dword", TStoreValue::Dword(-7));
        put("\\K", "text", TStoreValue::Sz("5"));
        put("\\K", "qword", TStoreValue::Qword(5));
        put("\\K", "binary", TStoreValue::Binary(QByteArray(4, '\1')));
        QCOMPARE(ReadIntegerValue(reg(), "\\K", "dword", 99), -7);
        QCOMPARE(ReadIntegerValue(reg(), "\\k", "DWORD", 99), -7);
        QCOMPARE(ReadIntegerValue(reg(), "\\K", "text", 99), 99);
        QCOMPARE(ReadIntegerValue(reg(), "\\K", "qword", 99), 99);
        QCOMPARE(ReadIntegerValue(reg(), "\\K", "binary", 99), 99);
        QCOMPARE(ReadIntegerValue(reg(), "\\K", "missing", 99), 99);
        QCOMPARE(ReadIntegerValue(reg(), "\\Missing", "dword", 99), 99);
    }

    void storeBooleansAreNonZeroDwords() {
        put("\\K", "seven", TStoreValue::Dword(7));
        put("\\K", "zero", TStoreValue::Dword(0));
        put("\\K", "text", TStoreValue::Sz("1"));
        QCOMPARE(ReadBoolValue(reg(), "\\K", "seven", false), true);
        QCOMPARE(ReadBoolValue(reg(), "\\K", "zero", true), false);
        QCOMPARE(ReadBoolValue(reg(), "\\K", "text", false), false);
        QCOMPARE(ReadBoolValue(reg(), "\\K", "missing", true), true);
        WriteBoolValue(reg(), "\\K", "written", true);
        TStoreValue value;
        QVERIFY(Store->GetValue("\\K", "written", value));
        QVERIFY(value == TStoreValue::Dword(1));
    }

    void storeStringsAreSzOnly() {
        put("\\Settings", "UserName", TStoreValue::ExpandSz("alice"));
        put("\\Settings", "Password", TStoreValue::Sz("secret"));
        put("\\Settings", "Number", TStoreValue::Dword(1));
        QCOMPARE(ReadStringValue(reg(), "\\Settings", "UserName", "def"), QString("def"));
        QCOMPARE(ReadStringValue(reg(), "\\Settings", "Password", "def"), QString("secret"));
        QCOMPARE(ReadStringValue(reg(), "\\Settings", "Number", "def"), QString("def"));
        WriteStringValue(reg(), "\\Settings", "UserName", "bob");
        QCOMPARE(ReadStringValue(reg(), "\\Settings", "username", "def"), QString("bob"));
    }

    void storeFloatsAreEightByteBinaries() {
        put("\\K", "exact", TStoreValue::Binary(LittleEndian(1000.75)));
        put("\\K", "short", TStoreValue::Binary(LittleEndian(1000.75).left(4)));
        put("\\K", "long", TStoreValue::Binary(LittleEndian(1000.75) + '\0'));
        put("\\K", "dword", TStoreValue::Dword(3));
        QCOMPARE(ReadFloatValue(reg(), "\\K", "exact", -1), 1000.75);
        QCOMPARE(ReadFloatValue(reg(), "\\K", "short", -1), -1.0);
        QCOMPARE(ReadFloatValue(reg(), "\\K", "long", -1), -1.0);
        QCOMPARE(ReadFloatValue(reg(), "\\K", "dword", -1), -1.0);
        WriteFloatValue(reg(), "\\K", "written", 45000.5);
        TStoreValue value;
        QVERIFY(Store->GetValue("\\K", "written", value));
        QCOMPARE(value.Kind, TValueKind::Binary);
        QCOMPARE(value.Bytes, QByteArray::fromHex("0000000010f9e540"));
    }

    void storeWritesCreateParentKeys() {
        WriteIntegerValue(reg(), Updates, "UpdateSchedule", 2);
        QVERIFY(SectionExists(reg(), "\\Software\\Velquist Client\\Settings"));
        QVERIFY(SectionExists(reg(), "\\SOFTWARE\\velquist client\\settings\\updates"));
        QCOMPARE(ReadIntegerValue(reg(), "\\software\\velquist client\\settings\\updates",
                                  "updateschedule", 0),
                 2);
    }

    void storeWriteToUncreatableKeyIsDropped() {
        const QString bad = "\\Software\\" + QString(300, u'x');
        WriteIntegerValue(reg(), bad, "v", 1); // silently
        QVERIFY(!SectionExists(reg(), bad));
        QVERIFY(!SectionExists(reg(), "\\Software"));
    }

    void storeSectionOperations() {
        WriteStringValue(reg(), "\\S", "Zeta", "1");
        WriteStringValue(reg(), "\\S", "alpha", "2");
        WriteStringValue(reg(), "\\S\\Sub", "x", "3");
        QCOMPARE(ReadSectionKeys(reg(), "\\s"), QStringList({"Zeta", "alpha"}));
        EraseSection(reg(), "\\S");
        QVERIFY(!SectionExists(reg(), "\\S"));
        QVERIFY(!SectionExists(reg(), "\\S\\Sub"));
    }

    void defaultStoreIsTheInstance() {
        TTestHome home;
        TUserStore::ResetInstance();
        WriteStringValue(TSettingsStore::Registry(), "\\URL Handler", "", "velquist:Login");
        QCOMPARE(ReadStringValue(TSettingsStore::Registry(), "\\url handler", "", "none"),
                 QString("velquist:Login"));
        QVERIFY(QFile::exists(home.configHome() + "/velquist/user-store.sqlite3"));
        TUserStore::ResetInstance();
    }

    void settingsKeyPath() {
        QCOMPARE(SettingsKeyPath(), QString("\\Software\\Velquist Client"));
        SetSettingsKeyPath("\\Software\\Test Client");
        QCOMPARE(SettingsKeyPath(), QString("\\Software\\Test Client"));
        SetSettingsKeyPath(DefaultSettingsKeyPath());
    }

    // --- records -----------------------------------------------------------------------------

    void updateScheduleDefaults() {
        TUpdateSchedule record;
        record.UpdateAtStartup = false;
        record.UpdateAtTime = false;
        record.UpdateSchedule = 9;
        record.UpdateTime = 5;
        record.UpdateDayNumber = 9;
        record.UpdateDayOfWeek = 9;
        ReadUpdateSchedule(reg(), Updates, record); // an empty store
        QCOMPARE(record.UpdateAtStartup, true);
        QCOMPARE(record.UpdateAtTime, true);
        QCOMPARE(record.UpdateSchedule, uint8_t(1));
        QCOMPARE(record.UpdateTime, 0.0);
        QCOMPARE(record.UpdateDayNumber, 1);
        QCOMPARE(record.UpdateDayOfWeek, 1);
    }

    void updateScheduleKeepsLowEightBits() {
        WriteIntegerValue(reg(), Updates, "UpdateSchedule", 260);
        TUpdateSchedule record;
        ReadUpdateSchedule(reg(), Updates, record);
        QCOMPARE(record.UpdateSchedule, uint8_t(4));
    }

    void updateScheduleRoundTripsWithStoredKinds() {
        const TUpdateSchedule written{false, true, 3, 45000.75, 17, 5};
        WriteUpdateSchedule(reg(), Updates, written);
        QCOMPARE(Store->ValueNames(Updates),
                 QStringList({"UpdateAtStartup", "UpdateAtTime", "UpdateSchedule", "UpdateTime",
                              "UpdateDayNumber", "UpdateDayOfWeek"}));
        TStoreValue value;
        Store->GetValue(Updates, "UpdateAtStartup", value);
        QVERIFY(value == TStoreValue::Dword(0));
        Store->GetValue(Updates, "UpdateTime", value);
        QVERIFY(value == TStoreValue::Binary(LittleEndian(45000.75)));
        TUpdateSchedule read;
        ReadUpdateSchedule(reg(), Updates, read);
        QCOMPARE(read.UpdateAtStartup, false);
        QCOMPARE(read.UpdateAtTime, true);
        QCOMPARE(read.UpdateSchedule, uint8_t(3));
        QCOMPARE(read.UpdateTime, 45000.75);
        QCOMPARE(read.UpdateDayNumber, 17);
        QCOMPARE(read.UpdateDayOfWeek, 5);
    }

    void connectionSettingsInRecordOrder() {
        const TSettingsStore local = ini("; machine settings\n[Settings]\nShowGrid=1\n");
        TConnectionSettings record;
        record.UseHttpTunnel = 1;
        record.ProxyServer = "proxy.example";
        record.ProxyPort = 3128;
        record.ProxyUsername = "user";
        record.ProxyPassword = "pass word";
        record.SocksVersion = 5;
        WriteConnectionSettings(local, "Settings", record);
        QCOMPARE(ReadWholeFile(local.fileName()), QByteArray("; machine settings\n"
                                                             "[Settings]\n"
                                                             "ShowGrid=1\n"
                                                             "UseHttpTunnel=1\n"
                                                             "ProxyServer=proxy.example\n"
                                                             "ProxyPort=3128\n"
                                                             "ProxyUsername=user\n"
                                                             "ProxyPassword=pass word\n"
                                                             "SocksHost=\n"
                                                             "SocksPort=0\n"
                                                             "SocksVersion=5\n"
                                                             "SocksUsername=\n"
                                                             "SocksPassword=\n"));
    }

    // --- INI files ---------------------------------------------------------------------------

    void iniIntegerForms_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected");
        const int def = 12345;
        QTest::newRow("decimal") << "42" << 42;
        QTest::newRow("leading blanks") << "   42" << 42;
        QTest::newRow("plus") << "+42" << 42;
        QTest::newRow("minus") << "-42" << -42;
        QTest::newRow("leading zeros") << "007" << 7;
        QTest::newRow("dollar hex") << "$1F" << 31;
        QTest::newRow("0x hex") << "0x1f" << 31;
        QTest::newRow("0X hex") << "0X1F" << 31;
        QTest::newRow("x hex") << "x1F" << 31;
        QTest::newRow("X hex") << "X1f" << 31;
        QTest::newRow("negative hex") << "-$10" << -16;
        QTest::newRow("hex pattern") << "$FF000008" << -16777208;
        QTest::newRow("all bits") << "0xFFFFFFFF" << -1;
        QTest::newRow("max") << "2147483647" << 2147483647;
        QTest::newRow("min") << "-2147483648" << int(-2147483647 - 1);
        QTest::newRow("overflow") << "2147483648" << def;
        QTest::newRow("underflow") << "-2147483649" << def;
        QTest::newRow("hex overflow") << "$100000000" << def;
        QTest::newRow("long overflow") << "99999999999999999999999" << def;
        QTest::newRow("trailing letters") << "12abc" << def;
        QTest::newRow("float") << "1.5" << def;
        QTest::newRow("inner blank") << "1 2" << def;
        QTest::newRow("blank after sign") << "- 5" << def;
        QTest::newRow("two signs") << "--5" << def;
        QTest::newRow("prefix only") << "0x" << def;
        QTest::newRow("dollar only") << "$" << def;
        QTest::newRow("sign only") << "-" << def;
        QTest::newRow("bad hex digit") << "$1G" << def;
        QTest::newRow("word") << "true" << def;
        QTest::newRow("empty") << "" << def;
        QTest::newRow("full width digits") << QString::fromUtf8("４２") << def;
    }
    void iniIntegerForms() {
        QFETCH(QString, text);
        QFETCH(int, expected);
        const TSettingsStore file = ini("[S]\nk=" + text + "\n");
        QCOMPARE(ReadIntegerValue(file, "S", "k", 12345), expected);
        int32_t parsed = 0;
        QCOMPARE(TryParseIntegerText(text, parsed), expected != 12345);
    }

    void integerTextTakesNoTrailingBlanks() {
        int32_t value = 0;
        QVERIFY(TryParseIntegerText("\t 5", value));
        QVERIFY(!TryParseIntegerText("5 ", value));
        QVERIFY(!TryParseIntegerText("5\n", value));
    }

    void iniIntegersAreWrittenDecimal() {
        const TSettingsStore file = ini("");
        WriteIntegerValue(file, "S", "color", -16777208);
        QCOMPARE(ReadWholeFile(file.fileName()), QByteArray("[S]\ncolor=-16777208\n"));
    }

    void iniBooleans() {
        const TSettingsStore file = ini("[S]\none=1\nzero=0\nseven=7\nword=true\nempty=\n");
        QCOMPARE(ReadBoolValue(file, "S", "one", false), true);
        QCOMPARE(ReadBoolValue(file, "S", "zero", true), false);
        QCOMPARE(ReadBoolValue(file, "S", "seven", false), true);
        QCOMPARE(ReadBoolValue(file, "S", "word", false), false);
        QCOMPARE(ReadBoolValue(file, "S", "word", true), true);
        QCOMPARE(ReadBoolValue(file, "S", "empty", true), true);
        QCOMPARE(ReadBoolValue(file, "S", "missing", true), true);
        WriteBoolValue(file, "S", "one", false);
        WriteBoolValue(file, "S", "new", true);
        QCOMPARE(ReadWholeFile(file.fileName()),
                 QByteArray("[S]\none=0\nzero=0\nseven=7\nword=true\nempty=\nnew=1\n"));
    }

    void iniStrings() {
        const TSettingsStore file = ini("[S]\nempty=\nquoted=\"  padded  \"\n");
        QCOMPARE(ReadStringValue(file, "S", "missing", "def"), QString("def"));
        QCOMPARE(ReadStringValue(file, "S", "empty", "def"), QString(""));
        QCOMPARE(ReadStringValue(file, "S", "quoted", "def"), QString("  padded  "));
        QCOMPARE(ReadStringValue(file, "Nope", "empty", "def"), QString("def"));
        const QString config = QString(3000, u'9');
        WriteStringValue(file, "S", "WindowConfig", config);
        zkIni::ClearCache();
        QCOMPARE(ReadStringValue(file, "S", "WindowConfig", ""), config);
    }

    void iniFloatsInGermanLocale() {
        TLocaleScope german(QLocale::German, QLocale::Germany);
        const TSettingsStore file = ini("[S]\nc=1000.75\ngrouped=1.500\nword=abc\nempty=\n");
        WriteFloatValue(file, "S", "UpdateTime", 1000.75);
        QCOMPARE(zkIni::ReadValue(file.fileName(), "S", "UpdateTime").value(), QString("1000,75"));
        QCOMPARE(ReadFloatValue(file, "S", "UpdateTime", -1), 1000.75);
        QCOMPARE(ReadFloatValue(file, "S", "c", -1), 1000.75);
        QCOMPARE(ReadFloatValue(file, "S", "grouped", -1), 1.5);
        QCOMPARE(ReadFloatValue(file, "S", "word", -1), -1.0);
        QCOMPARE(ReadFloatValue(file, "S", "empty", -1), -1.0);
        QCOMPARE(ReadFloatValue(file, "S", "missing", -1), -1.0);
        WriteFloatValue(file, "S", "big", 1234567.25);
        QCOMPARE(zkIni::ReadValue(file.fileName(), "S", "big").value(), QString("1234567,25"));
    }

    void iniFloatsInCLocale() {
        TLocaleScope english(QLocale::English, QLocale::UnitedStates);
        const TSettingsStore file = ini("[S]\ncomma=1000,75\n");
        WriteFloatValue(file, "S", "t", 1000.75);
        QCOMPARE(zkIni::ReadValue(file.fileName(), "S", "t").value(), QString("1000.75"));
        QCOMPARE(ReadFloatValue(file, "S", "t", -1), 1000.75);
        QCOMPARE(ReadFloatValue(file, "S", "comma", -1), -1.0);
    }

    void floatTextIsShortest() {
        TLocaleScope english(QLocale::English, QLocale::UnitedStates);
        QCOMPARE(FormatFloatText(0.1), QString("0.1"));
        QCOMPARE(FormatFloatText(45000.5), QString("45000.5"));
        QCOMPARE(FormatFloatText(0), QString("0"));
        QCOMPARE(FormatFloatText(-2.5), QString("-2.5"));
        double back = 0;
        QVERIFY(TryParseFloatText(FormatFloatText(1.0 / 3), back));
        QCOMPARE(back, 1.0 / 3);
    }

    void iniSectionOperations() {
        const TSettingsStore file = ini("[ActiveX]\nZeta=1\nalpha=2\nzeta=3\n[Other]\nq=1\n");
        QCOMPARE(ReadSectionKeys(file, "activex"), QStringList({"Zeta", "alpha"}));
        QVERIFY(SectionExists(file, "OTHER"));
        EraseSection(file, "activex");
        QVERIFY(!SectionExists(file, "ActiveX"));
        QCOMPARE(ReadWholeFile(file.fileName()), QByteArray("[Other]\nq=1\n"));
    }

    void iniWriteWithoutBatchSavesAtOnce() {
        const TSettingsStore file = ini("[S]\n");
        WriteIntegerValue(file, "S", "a", 1);
        QCOMPARE(ReadWholeFile(file.fileName()), QByteArray("[S]\na=1\n"));
        WriteStringValue(file, "S", "b", "x");
        QCOMPARE(ReadWholeFile(file.fileName()), QByteArray("[S]\na=1\nb=x\n"));
    }

    // --- batches -----------------------------------------------------------------------------

    void iniBatchHoldsWritesUntilCommit() {
        const TSettingsStore file = ini("[S]\nold=1\n");
        const QByteArray before = ReadWholeFile(file.fileName());
        {
            TSettingsBatch batch(file);
            WriteIntegerValue(file, "S", "a", 1);
            WriteIntegerValue(file, "T", "b", 2);
            QCOMPARE(ReadIntegerValue(file, "S", "a", 0), 1); // reads see the held writes
            QCOMPARE(ReadWholeFile(file.fileName()), before);
            batch.Commit();
        }
        QCOMPARE(ReadWholeFile(file.fileName()), QByteArray("[S]\nold=1\na=1\n\n[T]\nb=2\n"));
    }

    void iniBatchWithoutCommitChangesNothing() {
        const TSettingsStore file = ini("[S]\nold=1\n");
        const QByteArray before = ReadWholeFile(file.fileName());
        try {
            TSettingsBatch batch(file);
            WriteIntegerValue(file, "S", "old", 2);
            EraseSection(file, "S");
            throw EConvertError("on the way");
        } catch (const EConvertError&) {
        }
        QCOMPARE(ReadWholeFile(file.fileName()), before);
        QCOMPARE(ReadIntegerValue(file, "S", "old", 0), 1);
    }

    void iniBatchesNest() {
        const TSettingsStore file = ini("");
        {
            TSettingsBatch outer(file);
            WriteIntegerValue(file, "S", "outer", 1);
            {
                TSettingsBatch inner(file);
                WriteIntegerValue(file, "S", "dropped", 1);
            }
            {
                TSettingsBatch inner(file);
                WriteIntegerValue(file, "S", "kept", 1);
                inner.Commit();
            }
            QCOMPARE(ReadWholeFile(file.fileName()), QByteArray()); // only the outermost writes
            outer.Commit();
        }
        QCOMPARE(ReadSectionKeys(file, "S"), QStringList({"outer", "kept"}));
        QCOMPARE(ReadWholeFile(file.fileName()), QByteArray("[S]\nouter=1\nkept=1\n"));
    }

    void iniBatchCommitFailure() {
        const TSettingsStore file = ini("[S]\nk=1\n");
        const QByteArray before = ReadWholeFile(file.fileName());
        bool raised = false;
        {
            TSettingsBatch batch(file);
            WriteStringValue(file, "S", "long", QString(500, u'x'));
            rlimit old{};
            getrlimit(RLIMIT_FSIZE, &old);
            const auto handler = std::signal(SIGXFSZ, SIG_IGN);
            rlimit tight = old;
            tight.rlim_cur = 64;
            setrlimit(RLIMIT_FSIZE, &tight);
            try {
                batch.Commit();
            } catch (const EIniFileError& e) {
                raised = e.message() == QString("Unable to write to %1").arg(file.fileName());
            }
            setrlimit(RLIMIT_FSIZE, &old);
            std::signal(SIGXFSZ, handler);
        }
        QVERIFY(raised);
        QCOMPARE(ReadWholeFile(file.fileName()), before);
        QVERIFY(!ReadSectionKeys(file, "S").contains("long"));
    }

    void storeBatchCommitAndRollback() {
        TUserStore other(Store->fileName());
        {
            TSettingsBatch batch(reg());
            WriteIntegerValue(reg(), "\\Layout", "AlertCount", 3);
            QCOMPARE(ReadIntegerValue(reg(), "\\Layout", "AlertCount", -1), 3);
        }
        QCOMPARE(ReadIntegerValue(reg(), "\\Layout", "AlertCount", -1), -1);
        {
            TSettingsBatch outer(reg());
            WriteIntegerValue(reg(), "\\Layout", "AlertCount", 2);
            {
                TSettingsBatch inner(reg());
                WriteIntegerValue(reg(), "\\Layout\\AlertWindow0", "Top", 5);
                inner.Commit();
            }
            QCOMPARE(
                ReadIntegerValue(TSettingsStore::Registry(other), "\\Layout", "AlertCount", -1),
                -1);
            outer.Commit();
        }
        QCOMPARE(ReadIntegerValue(TSettingsStore::Registry(other), "\\Layout", "AlertCount", -1),
                 2);
        QCOMPARE(
            ReadIntegerValue(TSettingsStore::Registry(other), "\\Layout\\AlertWindow0", "Top", -1),
            5);
    }

    // A whole layout of 100 windows written in one batch and read back value by value.
    void layoutSizedFileRoundTrips() {
        const TSettingsStore file = TSettingsStore::IniFile(iniPath("layout.zkl"));
        const QString p = "\\Software\\Velquist Client\\Settings\\Layout";
        {
            TSettingsBatch batch(file);
            for (int w = 0; w < 100; ++w) {
                const QString g = QString("%1\\AlertWindow%2").arg(p).arg(w);
                for (int k = 0; k < 24; ++k)
                    WriteIntegerValue(file, g, QString("Value%1").arg(k), w * 100 + k);
                WriteStringValue(file, g, "WindowConfig", QString(2500, QChar(u'a' + w % 26)));
            }
            batch.Commit();
        }
        zkIni::ClearCache();
        for (int w = 0; w < 100; ++w) {
            const QString g = QString("%1\\AlertWindow%2").arg(p).arg(w);
            for (int k = 0; k < 24; ++k)
                QCOMPARE(ReadIntegerValue(file, g, QString("Value%1").arg(k), -1), w * 100 + k);
            QCOMPARE(ReadStringValue(file, g, "WindowConfig", ""),
                     QString(2500, QChar(u'a' + w % 26)));
        }
        QCOMPARE(zkIni::SectionNames(file.fileName()).size(), 100);
        QCOMPARE(zkIni::SectionNames(file.fileName()).at(42), QString("%1\\AlertWindow42").arg(p));
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_Settings.moc"
