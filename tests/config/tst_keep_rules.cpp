// A window's keeping rules as stored with its record: written and read back, in alert-window
// files and the per-user store; files of older and newer versions; bounds of what is read.
#include "config/zkKeepRules.h"
#include "config/zkSettings.h"
#include "config/zkWindowRecord.h"
#include "zkTestSupport.h"

#include <QTest>

namespace {

const QString Section = QStringLiteral("AlertWindow");

TKeepRules SomeRules() {
    TKeepRules rules;
    TKeepRule on;
    on.Kind = TKeepRuleKind::OnList;
    on.List = QStringLiteral("Tech, large caps"); // a comma in a name
    TKeepRule notOn;
    notOn.Kind = TKeepRuleKind::NotOnList;
    notOn.List = QStringLiteral("Banned");
    notOn.On = false;
    TKeepRule min;
    min.Kind = TKeepRuleKind::MinPrice;
    min.Price = 2.125;
    TKeepRule max;
    max.Kind = TKeepRuleKind::MaxPrice;
    max.Price = 1500;
    TKeepRule words;
    words.Kind = TKeepRuleKind::Contains;
    words.Words = {QStringLiteral("gap"), QStringLiteral("Breakout")};
    TKeepRule none;
    none.Kind = TKeepRuleKind::NotContains;
    none.Words = {QStringLiteral("halt")};
    TKeepRule emphasis;
    emphasis.Kind = TKeepRuleKind::Emphasise;
    emphasis.List = QStringLiteral("Watch");
    emphasis.Sound = QStringLiteral("/usr/share/sounds/bell.wav");
    rules.Rules = {on, notOn, min, max, words, none, emphasis};
    return rules;
}

} // namespace

class TKeepRulesTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TClientSandbox> Sandbox;
    QString file(const QString& name) const { return Sandbox->dir() + QLatin1Char('/') + name; }

private slots:
    void init() {
        Sandbox = std::make_unique<TClientSandbox>();
        SetDefaultWindowRecord();
    }
    void cleanup() { Sandbox.reset(); }

    // Every kind of rule, on and off, survives a window file and the per-user store; the
    // record's other keys read as before.
    void rulesTravelWithTheRecord() {
        TLayoutInfo record = DefaultWindowRecord();
        record.DataConfig = QStringLiteral("WN=Scanner&Src=inbox");
        record.KeepRules = SomeRules();
        const QString path = file(QStringLiteral("w.zka"));
        WriteWindowRecord(TSettingsStore::IniFile(path), Section, record, false);
        TLayoutInfo back;
        ReadWindowRecord(TSettingsStore::IniFile(path), Section, back);
        QCOMPARE(back, record);
        QVERIFY(ReadWholeFile(path).contains("KeepRule0=1,on-list,Tech, large caps\n"));

        const TSettingsStore registry = TSettingsStore::Registry();
        const QString key = SettingsKeyPath() + QStringLiteral("\\Layout\\AlertWindow0");
        WriteWindowRecord(registry, key, record, true);
        TLayoutInfo fromStore;
        ReadWindowRecord(registry, key, fromStore);
        QCOMPARE(fromStore.KeepRules, record.KeepRules);
        // The same place written again without rules (a layout saved over): the old rules'
        // keys stay in the store, but read as none.
        record.KeepRules = {};
        WriteWindowRecord(registry, key, record, true);
        ReadWindowRecord(registry, key, fromStore);
        QVERIFY(fromStore.KeepRules.IsEmpty());
    }

    // A file of an older version has no rules, and reads as none, whatever the default window
    // has; a record without rules writes no rule keys (its stored form is the old one).
    void olderFilesHaveNoRules() {
        DefaultWindowRecord().KeepRules = SomeRules();
        const QString path = file(QStringLiteral("old.zka"));
        WriteTextFile(path, "[AlertWindow]\nTop=5\nDataConfig=WN=A&Src=inbox\n");
        TLayoutInfo record;
        ReadWindowRecord(TSettingsStore::IniFile(path), Section, record);
        QCOMPARE(record.Top, 5);
        QVERIFY(record.KeepRules.IsEmpty());
        record.KeepRules = {};
        const QString again = file(QStringLiteral("again.zka"));
        WriteWindowRecord(TSettingsStore::IniFile(again), Section, record, false);
        QVERIFY(!ReadWholeFile(again).contains("KeepRule"));
    }

    // A newer version's file: keys this one does not know, and rules of kinds it does not
    // know, are passed over; the rest reads.
    void newerFilesRead() {
        const QString path = file(QStringLiteral("new.zka"));
        WriteTextFile(path, "[AlertWindow]\nTop=7\nQuietFrom=22:00\nFutureKey=x\n"
                            "KeepRules=4\nKeepRule0=1,volume-above,100000\n"
                            "KeepRule1=1,not-on-list,Banned\nKeepRule2=2,on-list,X\n"
                            "KeepRule3=1,min-price,abc\nDataConfig=WN=A&Src=inbox\n");
        TLayoutInfo record;
        ReadWindowRecord(TSettingsStore::IniFile(path), Section, record);
        QCOMPARE(record.Top, 7);
        QCOMPARE(record.DataConfig, QString("WN=A&Src=inbox"));
        QCOMPARE(int(record.KeepRules.Rules.size()), 1);
        QCOMPARE(record.KeepRules.Rules[0].Kind, TKeepRuleKind::NotOnList);
        QCOMPARE(record.KeepRules.Rules[0].List, QString("Banned"));
    }

    // What a file gives is bounded: the count of rules, the words, their length, names.
    void readingIsBounded() {
        QByteArray text = "[AlertWindow]\nKeepRules=2000000000\n";
        for (int i = 0; i < 100; ++i)
            text +=
                "KeepRule" + QByteArray::number(i) + "=1,max-price," + QByteArray::number(i) + "\n";
        QByteArray words = "KeepRule0=1,contains,";
        for (int i = 0; i < 1000; ++i)
            words += "w" + QByteArray::number(i) + ' ';
        words += QByteArray(500, 'x');
        text.replace("KeepRule0=1,max-price,0", words);
        text.replace("KeepRule1=1,max-price,1",
                     "KeepRule1=1,on-list," + QByteArray(5000, 'L') + "\x01" + "Z");
        const QString path = file(QStringLiteral("big.zka"));
        WriteTextFile(path, text);
        const TKeepRules rules = ReadKeepRules(TSettingsStore::IniFile(path), Section);
        QCOMPARE(int(rules.Rules.size()), TKeepRules::MaxRules);
        QCOMPARE(int(rules.Rules[0].Words.size()), TKeepRules::MaxWords);
        QCOMPARE(rules.Rules[0].Words.first(), QString("w0"));
        for (const QString& word : rules.Rules[0].Words)
            QVERIFY(word.size() <= TKeepRules::MaxWordLength);
        QCOMPARE(int(rules.Rules[1].List.size()), TKeepRules::MaxNameLength);
        QVERIFY(!rules.Rules[1].List.contains(QChar(1)));
    }
};

QTEST_GUILESS_MAIN(TKeepRulesTest)
#include "tst_keep_rules.moc"
