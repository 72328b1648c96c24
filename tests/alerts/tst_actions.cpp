#include "alerts/zkActions.h"
#include "config/zkLayoutSettings.h"
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "config/zkWindowRecord.h"
#include "platform/zkErrors.h"
#include "zkTestSupport.h"

#include <QDir>
#include <QTest>

#include <memory>

class TActionsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TTestHome> Home;
    std::unique_ptr<QTemporaryDir> Cwd;
    QString OldCwd;

    // Each row as text; a row whose worked-out columns (what each alert reads) disagree with
    // its text shows up as such.
    static QStringList rows(const TActionTable& t) {
        QStringList out;
        if (t.OnEachAlert.size() != t.Count() || t.KindValue.size() != t.Count())
            return {QStringLiteral("columns of different lengths")};
        for (qsizetype i = 0; i < t.Count(); ++i) {
            out << t.Trigger[i] + QLatin1Char('|') + t.Kind[i] + QLatin1Char('|') + t.Parameter[i];
            if (t.OnEachAlert[i] != (t.Trigger[i] == QLatin1String("1")) ||
                t.KindValue[i] != t.Kind[i].toInt())
                out.last() += QLatin1String(" (worked out differently)");
        }
        return out;
    }
    static QStringList parsed(const QStringList& actions) {
        TActionTable t;
        ParseActions(actions, t);
        return rows(t);
    }

private slots:
    void init() {
        Home = std::make_unique<TTestHome>();
        TUserStore::ResetInstance();
        Cwd = std::make_unique<QTemporaryDir>();
        OldCwd = QDir::currentPath();
        QDir::setCurrent(Cwd->path());
        CreateDefaultActionLists();
    }
    void cleanup() {
        QDir::setCurrent(OldCwd);
        Cwd.reset();
        TUserStore::ResetInstance();
        Home.reset();
    }

    void splitting() {
        const TActionFields f = SplitAction(QStringLiteral("1,4,List, with commas"));
        QCOMPARE(f.Trigger, QStringLiteral("1"));
        QCOMPARE(f.Kind, QStringLiteral("4"));
        QCOMPARE(f.Parameter, QStringLiteral("List, with commas"));
        QString field, rest = QStringLiteral("x");
        SplitActionField(QStringLiteral("13"), field, rest);
        QCOMPARE(field, QStringLiteral("13"));
        QVERIFY(rest.isEmpty());
    }

    void parsingRows() {
        // Numbers are held as decimal text whatever form they were stored in.
        QCOMPARE(parsed({QStringLiteral(" 01,3"), QStringLiteral("1,$2,a.wav,50"),
                         QStringLiteral("1,4,")}),
                 (QStringList{QStringLiteral("1|3|"), QStringLiteral("1|2|a.wav,50"),
                              QStringLiteral("1|4|")}));
        // A selection entry on its own list follows the program-wide choice (double-click).
        QCOMPARE(parsed({QStringLiteral("3,4,X"), QStringLiteral("3,2,s")}),
                 (QStringList{QStringLiteral("2|4|X"), QStringLiteral("3|2|s")}));
    }

    void markerUsesLayoutDefaults() {
        LayoutDefaultActions() = {QStringLiteral("1,3"), QStringLiteral("1,4,Scan")};
        const QStringList actions{QStringLiteral("1,2,before"), QStringLiteral("0,0"),
                                  QStringLiteral("not read")};
        QCOMPARE(parsed(actions),
                 (QStringList{QStringLiteral("1|3|"), QStringLiteral("1|4|Scan")}));
        QCOMPARE(parsed({QStringLiteral("0,1")}).size(), 2);
        QCOMPARE(parsed({QStringLiteral("0,2,p")}), QStringList{QStringLiteral("0|2|p")});
        // A marker inside the layout list itself cannot refer on; it is passed over.
        LayoutDefaultActions() = {QStringLiteral("0,0"), QStringLiteral("1,3")};
        QCOMPARE(parsed({QStringLiteral("0,0")}), QStringList{QStringLiteral("1|3|")});
    }

    void selectionTrigger() {
        QCOMPARE(SelectionTrigger(), 2);
        DefaultWindowActions() = {QStringLiteral("1,3"), QStringLiteral("2,4,A"),
                                  QStringLiteral("3,4,B"), QStringLiteral("x,4,C")};
        QCOMPARE(SelectionTrigger(), 3);
        // After the click choice, an entry stored with 2 reacts to a click.
        QCOMPARE(parsed({QStringLiteral("2,4,X")}), QStringList{QStringLiteral("3|4|X")});
        // Publishing on a selection follows the same choice.
        QCOMPARE(parsed({QStringLiteral("2,6")}), QStringList{QStringLiteral("3|6|")});
        QStringList list{QStringLiteral("1,6"), QStringLiteral("2,4,A"), QStringLiteral("2,6")};
        SetSelectionTrigger(list, 3);
        QCOMPARE(list, QStringList({"1,6", "3,4,A", "3,6"}));
        DefaultWindowActions() = list;
        QCOMPARE(SelectionTrigger(), 3);
        DefaultWindowActions() = {QStringLiteral("1,3")};
        QCOMPARE(SelectionTrigger(), 2);
    }

    void nonIntegerFieldsRaise() {
        const struct {
            const char* action;
            const char* message;
        } cases[] = {{"x,4,A", "'x' is not a valid integer value"},
                     {"1,four", "'four' is not a valid integer value"},
                     {"1", "'' is not a valid integer value"}};
        for (const auto& c : cases) {
            TActionTable t;
            try {
                ParseActions(
                    {QStringLiteral("1,3"), QString::fromLatin1(c.action), QStringLiteral("1,4,L")},
                    t);
                QFAIL(c.action);
            } catch (const EConvertError& e) {
                QCOMPARE(e.message(), QString::fromLatin1(c.message));
            }
            QCOMPARE(rows(t), QStringList{QStringLiteral("1|3|")}); // rows before it stay
        }
    }

    void recordInIniFile() {
        const TSettingsStore store = TSettingsStore::IniFile(QStringLiteral("a.zka"));
        const QString s = QStringLiteral("AlertWindow");
        WriteActionsRecord(store, s,
                           {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
        WriteActionsRecord(store, s, {QStringLiteral("z")});
        QCOMPARE(ReadWholeFile(QStringLiteral("a.zka")),
                 QByteArray("[AlertWindow]\nAction0=z\nAction1=b\nAction2=c\nActionsCount=1\n"));
        const QStringList d{QStringLiteral("d0"), QStringLiteral("d1")};
        QCOMPARE(ReadActionsRecord(store, s, d), QStringList{QStringLiteral("z")});

        const auto readFrom = [&](const QByteArray& text) {
            WriteTextFile(QStringLiteral("b.zka"), "[AlertWindow]\n" + text);
            return ReadActionsRecord(TSettingsStore::IniFile(QStringLiteral("b.zka")), s, d);
        };
        QCOMPARE(readFrom("Action0=x\n"), d); // no count: the defaults
        QCOMPARE(readFrom("Action0=x\nActionsCount=0\n"), d);
        QCOMPARE(readFrom("Action0=x\nActionsCount=two\n"), d);
        QCOMPARE(readFrom("Action0=x\nActionsCount=-3\n"), d);
        QCOMPARE(readFrom("Action0=x\nActionsCount=2\n"),
                 (QStringList{QStringLiteral("x"), QStringLiteral("d0")}));
        QCOMPARE(readFrom("ActionsCount=2147483647\n").size(), 10000); // bounded
    }

    void recordInPerUserStore() {
        const QString key = LayoutDefaultActionsKey();
        QCOMPARE(key, QStringLiteral("\\Software\\Velquist Client\\Settings\\Layout\\Actions"));
        TUserStore& store = TUserStore::Instance();
        store.SetValue(key, QStringLiteral("Action0"), TStoreValue::Sz(QStringLiteral("1,3")));
        // Only an integer count counts.
        store.SetValue(key, QStringLiteral("ActionsCount"), TStoreValue::Sz(QStringLiteral("1")));
        const QStringList d{QStringLiteral("d")};
        QCOMPARE(ReadActionsRecord(TSettingsStore::Registry(), key, d), d);
        store.SetValue(key, QStringLiteral("ActionsCount"), TStoreValue::Dword(1));
        QCOMPARE(ReadActionsRecord(TSettingsStore::Registry(), key, d),
                 QStringList{QStringLiteral("1,3")});
    }

    void loadDefaultLists() {
        LoadDefaultActionLists(); // nothing stored: both keep their content
        QVERIFY(QFileInfo(SavedWindowsDir()).isDir());
        QCOMPARE(DefaultWindowActions(), QStringList{QStringLiteral("2,4,MAIN LIST")});
        QCOMPARE(LayoutDefaultActions(), QStringList{QStringLiteral("2,4,MAIN LIST")});

        WriteActionsRecord(TSettingsStore::Registry(), LayoutDefaultActionsKey(),
                           {QStringLiteral("0,0"), QStringLiteral("1,3")});
        WriteTextFile(DefaultWindowFileName(),
                      "[AlertWindow]\nAction0=1,3\nAction1=3,4,Q\nActionsCount=2\n");
        LoadDefaultActionLists();
        QCOMPARE(LayoutDefaultActions(),
                 (QStringList{QStringLiteral("0,0"), QStringLiteral("1,3")}));
        QCOMPARE(DefaultWindowActions(),
                 (QStringList{QStringLiteral("1,3"), QStringLiteral("3,4,Q")}));

        WriteTextFile(DefaultWindowFileName(), "[Other]\nAction0=9,9\nActionsCount=1\n");
        LoadDefaultActionLists();
        QCOMPARE(DefaultWindowActions().size(), 2);
    }

    // Without DEFAULT_WINDOW.zka the selection entries follow those of the stored per-user list,
    // the one store of the click choice then; entries of other kinds say nothing about it.
    void selectionFromPerUserListWithoutFile() {
        const QStringList doubleClick{"2,4,MAIN LIST", "1,3", "2,4"};
        DefaultWindowActions() = doubleClick;
        const auto store = [](const QStringList& list) {
            WriteActionsRecord(TSettingsStore::Registry(), LayoutDefaultActionsKey(), list);
        };
        LayoutDefaultActions() = {"3,4,MAIN LIST"}; // not stored: says nothing
        LoadDefaultActionLists();
        QCOMPARE(DefaultWindowActions(), doubleClick);
        store({"3,2,beep", "1,3"});
        LoadDefaultActionLists();
        QCOMPARE(DefaultWindowActions(), doubleClick);
        store({"3,4,MAIN LIST", "3,2,beep"});
        LoadDefaultActionLists();
        QCOMPARE(DefaultWindowActions(), QStringList({"3,4,MAIN LIST", "1,3", "3,4"}));
        QCOMPARE(SelectionTrigger(), 3);
        store({"2,4,Other"});
        LoadDefaultActionLists();
        QCOMPARE(DefaultWindowActions(), doubleClick);
        QVERIFY(!QFileInfo::exists(DefaultWindowFileName()));
    }

    void saveDefaultLists() {
        LayoutDefaultActions() = {QStringLiteral("1,3")};
        DefaultWindowActions() = {QStringLiteral("1,4,Scan")};
        SaveDefaultActionLists();
        QCOMPARE(ReadActionsRecord(TSettingsStore::Registry(), LayoutDefaultActionsKey(), {}),
                 QStringList{QStringLiteral("1,3")});
        QVERIFY(!QFileInfo::exists(DefaultWindowFileName())); // never created by saving

        WriteTextFile(DefaultWindowFileName(), "[Other]\nA=1\n");
        SaveDefaultActionLists();
        QVERIFY(!ReadWholeFile(DefaultWindowFileName()).contains("Scan"));

        WriteTextFile(DefaultWindowFileName(), "[AlertWindow]\nTop=5\nActionsCount=0\n");
        SaveDefaultActionLists();
        QCOMPARE(ReadWholeFile(DefaultWindowFileName()),
                 QByteArray("[AlertWindow]\nTop=5\nActionsCount=1\nAction0=1,4,Scan\n"));
    }
};

QTEST_GUILESS_MAIN(TActionsTest)
#include "tst_actions.moc"
