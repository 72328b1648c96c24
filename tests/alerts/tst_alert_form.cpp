#include "alerts/zkAlertForm.h"
#include "alerts/zkKeepRulesForm.h"
#include "components/zkComponentWrappers.h"
#include "config/zkLayoutSettings.h"
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "platform/zkApplication.h"
#include "platform/zkErrors.h"
#include "platform/zkPrompts.h"
#include "zkFakeComponents.h"
#include "zkTestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QWindow>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <memory>

namespace {

// Sets or clears the immutable flag, which stops even root from replacing the file.
bool setImmutable(const QString& path, bool on) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    return ok;
}

class TKeyRecordingForm : public TAlertForm {
public:
    QList<int> Keys;

protected:
    void FormKeyUp(int& key, Qt::KeyboardModifiers shift) override {
        Keys << key;
        TAlertForm::FormKeyUp(key, shift);
    }
};

} // namespace

class TAlertFormTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TTestHome> Home;
    std::unique_ptr<QTemporaryDir> Cwd;
    QString OldCwd;
    std::shared_ptr<TFakeComponentFactory> Factory;
    std::unique_ptr<TScopedComponentFactory> Scope;

    static TFakeZentrikWindowX& fake(TAlertForm& w) {
        return *static_cast<TFakeZentrikWindowX*>(w.ZentrikWindowX->Component());
    }
    QString path(const QString& name) const { return Cwd->path() + QLatin1Char('/') + name; }
    static QStringList keysOf(const QByteArray& text) {
        QStringList keys;
        for (const QByteArray& line : text.split('\n'))
            if (line.contains('='))
                keys << QString::fromUtf8(line.left(line.indexOf('=')));
        return keys;
    }
    // A window as a record would configure it.
    static std::unique_ptr<TAlertForm> configuredWindow() {
        auto w = std::make_unique<TAlertForm>();
        TLayoutInfo r = DefaultWindowRecord();
        r.Left = 100;
        r.Top = 120;
        r.Width = 500;
        r.Height = 300;
        r.FontCharset = 0;
        r.FontHeight = -15; // not what 10 points make: must come back as read
        r.FontSize = 10;
        r.FontPitch = 1;
        r.FontItalic = true;
        r.DataConfig = QStringLiteral("O=1&WN=Gappers");
        r.StrategyConfig = QStringLiteral("S=7");
        w->ApplyWindowRecord(r);
        return w;
    }

private slots:
    void init() {
        Home = std::make_unique<TTestHome>();
        TUserStore::ResetInstance();
        Cwd = std::make_unique<QTemporaryDir>();
        OldCwd = QDir::currentPath();
        QDir::setCurrent(Cwd->path());
        SetApplicationTitle(QStringLiteral("Velquist"));
        zkPrompts::SetScripted(true);
        zkPrompts::ClearScript();
        Factory = std::make_shared<TFakeComponentFactory>();
        Scope = std::make_unique<TScopedComponentFactory>(Factory);
        SetDefaultWindowRecord();
        CreateDefaultActionLists();
    }
    void cleanup() {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<TAlertForm*>(w))
                delete w;
        Scope.reset();
        Factory.reset();
        QDir::setCurrent(OldCwd);
        Cwd.reset();
        TUserStore::ResetInstance();
        Home.reset();
    }

    void creation() {
        DefaultWindowActions() = {QStringLiteral("1,3"), QStringLiteral("3,4,Scan")};
        TAlertForm w;
        TFakeZentrikWindowX& c = fake(w);
        QCOMPARE(w.objectName(), QStringLiteral("AlertForm"));
        QVERIFY(w.isWindow() && !w.isVisible());
        QCOMPARE(w.size(), QSize(452, 446));
        QStringList menu;
        for (const auto& item : c.MenuItems)
            menu << QString::number(item.Id) + QLatin1Char(' ') + item.Text;
        QCOMPARE(menu, (QStringList{"0 -", "1000 Actions...", "1001 Duplicate window",
                                    "1002 Save window...", "1003 Set window as default",
                                    "1004 Set font...", "1009 Quiet hours..."}));
        QVERIFY(c.FNotifyOnEachAlert && c.FNotifyOnWindowNameChanged &&
                c.FNotifyOnAccountStatusChanged);
        QCOMPARE(c.FAllowAlertSelectionType, 3);
        QCOMPARE(w.Actions, DefaultWindowActions());
        QCOMPARE(w.ActionTable.Trigger, (QStringList{"1", "3"}));
        QCOMPARE(w.ActionTable.Parameter, (QStringList{"", "Scan"}));
        QVERIFY(w.WindowFileName.isEmpty() && !w.HasPendingActions);

        w.show();
        QTRY_COMPARE(w.ZentrikWindowX->geometry(), w.rect()); // the component fills the window
        c.RaiseAccountStatusChanged(); // no main window: nothing to refresh, no failure
        c.RaiseCustomMenuItem(0);
        c.RaiseCustomMenuItem(999);
        QVERIFY(zkPrompts::Shown().isEmpty());
    }

    void badDefaultActionsStillGiveAWindow() {
        DefaultWindowActions() = {QStringLiteral("1,3"), QStringLiteral("oops")};
        TAlertForm w;
        QVERIFY(fake(w).FNotifyOnEachAlert);
        QCOMPARE(w.ActionTable.Count(), 1);
        QCOMPARE(zkPrompts::Shown().size(), 1);
        QCOMPARE(zkPrompts::Shown().first().Text,
                 QStringLiteral("'oops' is not a valid integer value"));
    }

    void captionFollowsWindowName() {
        Factory->PrepareAlertWindow = [](TFakeZentrikWindowX& c) { c.FWindowName = "   "; };
        TAlertForm w;
        QCOMPARE(w.windowTitle(), QStringLiteral("Velquist"));
        fake(w).RaiseWindowNameChanged(QStringLiteral("  High/Low Ticker \t"));
        QCOMPARE(w.windowTitle(), QStringLiteral("High/Low Ticker"));
        fake(w).RaiseWindowNameChanged(QString());
        QCOMPARE(w.windowTitle(), QStringLiteral("Velquist"));
    }

    void copyFileNames_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("copy");
        QTest::newRow("never saved") << ""
                                     << "";
        QTest::newRow("blank") << "  "
                               << "  ";
        QTest::newRow("plain") << "/d/Gappers.zka"
                               << "/d/Copy of Gappers.zka";
        QTest::newRow("already a copy") << "/d/Copy of Gappers.zka"
                                        << "/d/Copy of Gappers.zka";
        QTest::newRow("any case") << "/d/cOPY OF g.zka"
                                  << "/d/cOPY OF g.zka";
        QTest::newRow("prefix needs its blank") << "/d/Copy ofG.zka"
                                                << "/d/Copy of Copy ofG.zka";
        QTest::newRow("folder does not count") << "/Copy of d/G.zka"
                                               << "/Copy of d/Copy of G.zka";
    }
    void copyFileNames() {
        QFETCH(QString, source);
        QFETCH(QString, copy);
        QCOMPARE(CopyWindowFileName(source), copy);
    }

    void duplicate() {
        QWidget owner;
        auto* source = new TAlertForm(&owner);
        TLayoutInfo r = DefaultWindowRecord();
        r.Left = 200;
        r.Top = 150;
        r.Width = 500;
        r.Height = 300;
        r.FontName = QStringLiteral("Arial");
        r.FontBold = true;
        r.FontColor = 0x00123456;
        r.DataConfig = QStringLiteral("WN=Gappers");
        r.WindowConfig = QStringLiteral("C,1");
        r.StrategyConfig = QStringLiteral("S=1");
        r.WindowFileName = path(QStringLiteral("Gappers.zka"));
        source->ApplyWindowRecord(r);
        source->SetActions({QStringLiteral("1,3")});
        const QPoint freshPos = TAlertForm().pos();

        fake(*source).RaiseCustomMenuItem(TAlertForm::DuplicateWindowMenuId);
        const QList<TAlertForm*> windows = owner.findChildren<TAlertForm*>();
        QCOMPARE(windows.size(), 2);
        TAlertForm* copy = windows.last();
        QVERIFY(copy->isVisible());
        QCOMPARE(copy->pos(), freshPos);
        QCOMPARE(copy->size(), QSize(500, 300));
        QCOMPARE(fake(*copy).FFont, fake(*source).FFont);
        QCOMPARE(fake(*copy).FFontColor, 0x00123456);
        QCOMPARE(fake(*copy).FDataConfig, QStringLiteral("WN=Gappers"));
        QCOMPARE(fake(*copy).FWindowConfig, QStringLiteral("C,1"));
        QCOMPARE(fake(*copy).FStrategyConfig, QStringLiteral("S=1"));
        QCOMPARE(copy->WindowFileName, path(QStringLiteral("Copy of Gappers.zka")));
        QCOMPARE(copy->Actions, QStringList{QStringLiteral("2,4,MAIN LIST")});
        QVERIFY(!QFileInfo::exists(copy->WindowFileName)); // not written until saved
        // The copy's record is the source's, position and file name aside.
        TLayoutInfo a = source->WindowRecord(), b = copy->WindowRecord();
        b.Left = a.Left;
        b.Top = a.Top;
        b.WindowFileName = a.WindowFileName;
        QVERIFY(a == b);
    }

    void saveWindowDialog_data() {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("suggested");
        QTest::addColumn<QString>("offered");
        QTest::newRow("suggestion") << ""
                                    << "A/B:C"
                                    << "A_B_C";
        QTest::newRow("all nine") << " "
                                  << "x\"*/:<>?\\|y"
                                  << "x_________y";
        QTest::newRow("saved before") << "/d/Mine.zka"
                                      << "A/B"
                                      << "/d/Mine.zka";
    }
    void saveWindowDialog() {
        QFETCH(QString, fileName);
        QFETCH(QString, suggested);
        QFETCH(QString, offered);
        TAlertForm w;
        fake(w).FSuggestedFileName = suggested;
        w.WindowFileName = fileName;
        zkPrompts::SetNextFileName(std::nullopt); // cancelled
        fake(w).RaiseCustomMenuItem(TAlertForm::SaveWindowMenuId);
        QCOMPARE(zkPrompts::Shown().size(), 1);
        const zkPrompts::TPromptRecord p = zkPrompts::Shown().first();
        QCOMPARE(p.Kind, QStringLiteral("save"));
        QCOMPARE(p.File.FileName, offered);
        QCOMPARE(p.File.DefaultExt, QStringLiteral("zka"));
        QCOMPARE(p.File.Filter, QStringLiteral("Velquist files (*.zka)|*.zka|All files (*)|*"));
        QCOMPARE(p.File.InitialDir, path(QStringLiteral("SavedWindows")));
        QVERIFY(p.File.OverwritePrompt && p.File.PathMustExist);
        QVERIFY(QFileInfo(p.File.InitialDir).isDir());
        QCOMPARE(w.WindowFileName, fileName);
        QCOMPARE(QDir(p.File.InitialDir).entryList(QDir::Files), QStringList());
    }

    void saveWindowWritesFile() {
        auto w = configuredWindow();
        w->SetActions({QStringLiteral("1,3"), QStringLiteral("2,4,Scan")});
        const QString file = path(QStringLiteral("SavedWindows/Gappers.zka"));
        WriteTextFile(file, "[Keep]\nA=1\n[AlertWindow]\nStale=1\nAction5=old\nTop=1\n");
        zkPrompts::SetNextFileName(file);
        fake(*w).RaiseCustomMenuItem(TAlertForm::SaveWindowMenuId);
        QCOMPARE(w->WindowFileName, file);

        const QByteArray text = ReadWholeFile(file);
        QVERIFY(text.startsWith("[Keep]\nA=1\n"));
        QCOMPARE(keysOf(text),
                 (QStringList{"A",          "Top",          "Left",           "Width",
                              "Height",     "WindowState",  "FontCharset",    "FontColor",
                              "FontHeight", "FontName",     "FontPitch",      "FontSize",
                              "FontBold",   "FontItalic",   "FontUnderline",  "FontStrikeOut",
                              "DataConfig", "WindowConfig", "StartegyConfig", "Action0",
                              "Action1",    "ActionsCount"}));
        // What was loaded comes back as it was, the system colour included.
        TLayoutInfo back;
        ReadWindowRecord(TSettingsStore::IniFile(file), QStringLiteral("AlertWindow"), back);
        TLayoutInfo expected = w->WindowRecord();
        expected.WindowFileName.clear();
        QVERIFY(back == expected);
        QCOMPARE(back.FontColor, -16777208);
        QCOMPARE(back.FontHeight, -15);
        QCOMPARE(back.FontSize, 10);
        QCOMPARE(back.FontPitch, uint8_t(1));
        QCOMPARE(back.FontCharset, uint8_t(0));
        QVERIFY(back.FontItalic);
        QCOMPARE(back.Left, 100);
        QCOMPARE(back.StrategyConfig, QStringLiteral("S=7"));
        QCOMPARE(
            ReadActionsRecord(TSettingsStore::IniFile(file), QStringLiteral("AlertWindow"), {}),
            (QStringList{"1,3", "2,4,Scan"}));
    }

    void failedWriteChangesNothing() {
        auto w = configuredWindow();
        const QString file = path(QStringLiteral("SavedWindows/Locked.zka"));
        const QByteArray old = "[AlertWindow]\nTop=1\nActionsCount=0\n";
        WriteTextFile(file, old);
        QFile::setPermissions(file, QFile::ReadOwner);
        QFile::setPermissions(QFileInfo(file).absolutePath(), QFile::ReadOwner | QFile::ExeOwner);
        bool immutable = false;
        if (::geteuid() == 0) { // permissions do not stop root
            immutable = setImmutable(file, true);
            if (!immutable) {
                QFile::setPermissions(QFileInfo(file).absolutePath(),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
                QSKIP("cannot make a file unwritable for root here");
            }
        }
        w->WindowFileName = QStringLiteral("/d/Before.zka");
        try {
            w->WriteAlertWindowFile(file, false);
            QFAIL("the write did not fail");
        } catch (const EIniFileError& e) {
            QCOMPARE(e.message(), QStringLiteral("Unable to write to ") + file);
        }
        // Through the menu the general error report shows it.
        zkPrompts::SetNextFileName(file);
        fake(*w).RaiseCustomMenuItem(TAlertForm::SaveWindowMenuId);
        QCOMPARE(zkPrompts::Shown().last().Text, QStringLiteral("Unable to write to ") + file);
        if (immutable)
            setImmutable(file, false);
        QFile::setPermissions(QFileInfo(file).absolutePath(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(ReadWholeFile(file), old);
        QCOMPARE(w->WindowFileName, QStringLiteral("/d/Before.zka"));
    }

    void setWindowAsDefault() {
        WriteTextFile(DefaultWindowFileName(),
                      "[AlertWindow]\nStale=1\nFontName=Arial\nAction3=old\nActionsCount=4\n");
        auto w = configuredWindow();
        w->WindowFileName = QStringLiteral("/d/Mine.zka");
        w->SetActions({QStringLiteral("1,3")});
        fake(*w).RaiseCustomMenuItem(TAlertForm::SetAsDefaultMenuId);
        QCOMPARE(w->WindowFileName, QStringLiteral("/d/Mine.zka"));
        const QByteArray text = ReadWholeFile(DefaultWindowFileName());
        QVERIFY(!text.contains("Stale") && !text.contains("Arial") && !text.contains("Action3"));
        QCOMPARE(DefaultWindowRecord().DataConfig, QStringLiteral("O=1&WN=Gappers"));
        QCOMPARE(DefaultWindowRecord().Width, 500);
        QVERIFY(DefaultWindowRecord().WindowFileName.isEmpty());
        QCOMPARE(DefaultWindowActions(), QStringList{QStringLiteral("1,3")});
        TAlertForm next;
        QCOMPARE(next.Actions, QStringList{QStringLiteral("1,3")});
    }

    void setFont() {
        auto w = configuredWindow();
        TFakeZentrikWindowX& c = fake(*w);
        const QFont before = c.FFont;
        zkPrompts::SetNextFont(std::nullopt); // cancelled
        c.RaiseCustomMenuItem(TAlertForm::SetFontMenuId);
        QCOMPARE(zkPrompts::Shown().last().Text, before.toString()); // opened with the font
        QCOMPARE(c.FFont, before);
        QCOMPARE(c.FFontColor, -16777208);

        QFont chosen(QStringLiteral("Courier New"), 14);
        zkPrompts::SetNextFont(chosen); // OK, colour left as it was
        c.RaiseCustomMenuItem(TAlertForm::SetFontMenuId);
        QCOMPARE(c.FFont, chosen);
        QCOMPARE(c.FFontColor, -16777208);
        TLayoutInfo r = w->WindowRecord();
        QCOMPARE(r.FontSize, 14);
        QCOMPARE(r.FontName, QStringLiteral("Courier New"));
        QCOMPARE(r.FontCharset, uint8_t(0)); // the dialog has no character set to change

        zkPrompts::SetNextFont(chosen, QColor(255, 0, 0));
        c.RaiseCustomMenuItem(TAlertForm::SetFontMenuId);
        QCOMPARE(c.FFontColor, 0x000000FF);
    }

    void closingFreesTheWindow() {
        QPointer<TAlertForm> w = new TAlertForm;
        QPointer<TFakeZentrikWindowX> component = &fake(*w);
        w->show();
        w->close();
        QTRY_VERIFY(w.isNull());
        QVERIFY(component.isNull());
    }

    void keyPreview() {
        TKeyRecordingForm w;
        w.ZentrikWindowX->setFocusPolicy(Qt::StrongFocus);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.ZentrikWindowX->setFocus();
        QTest::keyRelease(w.windowHandle(), Qt::Key_Tab, Qt::ControlModifier);
        // Each release once, though a control has the focus (QTest lets go of Ctrl last).
        QCOMPARE(w.Keys, (QList<int>{Qt::Key_Tab, Qt::Key_Control}));
    }

    // The Rules dialog's emphasis row: what it shows of a stored rule and gives back, its sound
    // browsed for, a list that is gone turning it off with a note.
    void rulesDialogEditsTheEmphasis() {
        TKeepRulesPage page;
        TKeepRules rules;
        TKeepRule emphasis;
        emphasis.Kind = TKeepRuleKind::Emphasise;
        emphasis.List = "Hot";
        emphasis.Sound = "/s/own.wav";
        rules.Rules = {emphasis};
        page.Load(rules, {"Watch", "Hot"});
        QVERIFY(page.EmphasisCheckBox->isChecked());
        QCOMPARE(page.EmphasisComboBox->currentText(), QString("Hot"));
        QCOMPARE(page.EmphasisSoundEdit->text(), QString("/s/own.wav"));
        QVERIFY(page.EmphasisSoundButton->isEnabled());
        QCOMPARE(page.Rules(), rules);

        zkPrompts::SetNextFileName(QString("/s/other.wav"));
        page.EmphasisSoundButton->click();
        page.EmphasisComboBox->setCurrentIndex(0);
        rules.Rules[0].List = "Watch";
        rules.Rules[0].Sound = "/s/other.wav";
        QCOMPARE(page.Rules(), rules);
        page.EmphasisCheckBox->setChecked(false);
        QVERIFY(!page.EmphasisComboBox->isEnabled());
        rules.Rules[0].On = false;
        QCOMPARE(page.Rules(), rules);

        // Turned on on a page that had none, with no sound: the window's sounds.
        page.Load({}, {"Watch"});
        QVERIFY(page.Rules().IsEmpty());
        page.EmphasisCheckBox->setChecked(true);
        QCOMPARE(page.Rules().Rules.size(), size_t(1));
        QCOMPARE(page.Rules().Rules[0].List, QString("Watch"));
        QVERIFY(page.Rules().Rules[0].Sound.isEmpty());

        page.Load({{emphasis}}, {"Watch"});
        QVERIFY(!page.EmphasisCheckBox->isChecked());
        QVERIFY(!page.NoteLabel->isHidden());
        QVERIFY(page.NoteLabel->text().contains("\"Hot\""));
        QVERIFY(!page.Rules().Rules[0].On);
    }
};

QTEST_MAIN(TAlertFormTest)
#include "tst_alert_form.moc"
