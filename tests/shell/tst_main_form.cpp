#include "account/zkLoginForm.h"
#include "alerts/zkAlertForm.h"
#include "components/zkComponentWrappers.h"
#include "config/zkConfig.h"
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "desktop/zkWindowRing.h"
#include "hub/zkAlertHub.h"
#include "linking/zkGenericConnectorForm.h"
#include "platform/zkPrompts.h"
#include "platform/zkShell.h"
#include "shell/zkAccountStatusBar.h"
#include "shell/zkLayouts.h"
#include "shell/zkMainForm.h"
#include "shell/zkStartup.h"
#include "shell/zkTrayIcon.h"
#include "symbollists/zkSymbolListsForm.h"
#include "zkFakeComponents.h"
#include "zkTestSupport.h"

#include <QAction>
#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

// The number of separate lines drawn above the action in the shown menu, counted down a
// column near its right edge (clear of the item texts): the frame's top is one, a separator
// another.
int LinesAbove(QMenu& menu, QAction* action) {
    menu.popup(QPoint(0, 0));
    const QImage image = menu.grab().toImage();
    const QRect below = menu.actionGeometry(action);
    menu.hide();
    const int x = image.width() - 12;
    const QRgb background = image.pixel(x, below.bottom() - 1);
    int lines = 0;
    bool onLine = false;
    for (int y = 0; y < below.top(); ++y) {
        const bool drawn = image.pixel(x, y) != background;
        lines += drawn && !onLine;
        onLine = drawn;
    }
    return lines;
}
const QDateTime FixedNow(QDate(2026, 12, 8), QTime(10, 0, 0));

// A private home, a private installation folder as the current directory, scripted prompts
// and a fake component factory, for one main window.
struct TMainFormFixture {
    TTestHome Home;
    QTemporaryDir Install;
    QString OldDir = QDir::currentPath();
    std::shared_ptr<TFakeComponentFactory> Factory = std::make_shared<TFakeComponentFactory>();
    TScopedComponentFactory Scope{Factory};

    TMainFormFixture() {
        QDir::setCurrent(Install.path());
        TUserStore::ResetInstance();
        SetSettingsKeyPath(QString::fromLatin1(DefaultSettingsKeyPath()));
        zkPrompts::SetScripted(true);
        zkPrompts::ClearScript();
        zkShell::SetRecording(true);
        zkShell::ClearOpened();
        TZentrikProMainForm::Clock = [] { return FixedNow; };
    }
    ~TMainFormFixture() {
        QDir::setCurrent(OldDir);
        TUserStore::ResetInstance();
    }
    QString layoutFile(const QString& name) const { return Install.filePath(name); }
    // The per-user store's layout count; -1 while no layout was saved there.
    static int32_t storedAlertCount() {
        return ReadIntegerValue(TSettingsStore::Registry(), LayoutKeyPath(), "AlertCount", -1);
    }
    void storeCredentials(const QString& user, const QString& password) {
        const QString key = SettingsKeyPath() + "\\Settings";
        WriteStringValue(TSettingsStore::Registry(), key, "UserName", user);
        WriteStringValue(TSettingsStore::Registry(), key, "Password", password);
    }
};

// Expiry seconds as the service gives them (local time), `left` seconds from the fixed clock.
qint64 expiryIn(qint64 left) {
    return FixedNow.toSecsSinceEpoch() + FixedNow.offsetFromUtc() + left;
}

// The "AlertCount" a layout file holds; -1 when the file holds no layout (or is missing).
int32_t fileAlertCount(const QString& fileName) {
    return ReadIntegerValue(TSettingsStore::IniFile(fileName), LayoutKeyPath(), "AlertCount", -1);
}

int messagesWith(const QString& text) {
    int n = 0;
    for (const zkPrompts::TPromptRecord& r : zkPrompts::Shown())
        n += r.Kind == "message" && r.Text == text;
    return n;
}
} // namespace

class TMainFormTest : public QObject {
    Q_OBJECT
private slots:
    void accountStatusTexts();
    void expiryBoundaries_data();
    void expiryBoundaries();
    void statusBarClicks();
    void helpMenuFromConfiguration();
    void closeRules();
    void terminateSavesWithoutAQuestion();
    void loginPromptRule();
    void creationErrorIsReportedAndWindowStillOpens();
    void activationRestoresAMinimisedWindow();
    void firstJobsRunOnceEachOnItsOwn();
    void newAlertWindowsAreOwnedAndRinged();
    void alertWindowsListsOnlyWholeWindows();
    void terminateEndsTheCloseQuestion();
    void requestsDuringCreationAreKept();
    void externalLinkingBringsTheWindowForward();
    void bringForwardRepeatsOnlyWhenSomethingChanged();
    void trayIconShowsStateAndUnseenAlerts();
};

void TMainFormTest::accountStatusTexts() {
    TMainFormFixture f;
    TZentrikProMainForm form;
    TFakeConnectionControl* c = f.Factory->Connection();
    QVERIFY(c);
    const QColor buttonText = form.palette().color(QPalette::ButtonText);
    auto bar = form.AccountStatusStatusBar;

    c->FUserName.clear();
    c->FConnectionStatus = 0;
    form.RefreshAccountStatus();
    QCOMPARE(bar->PanelText(), QString(" Not connected"));
    QCOMPARE(bar->TextColor(), buttonText);

    c->FUserName = "trader7";
    form.RefreshAccountStatus();
    QCOMPARE(bar->PanelText(), QString(" Connecting as \"trader7\"..."));
    QCOMPARE(bar->TextColor(), buttonText);

    c->FConnectionStatus = 1;
    form.RefreshAccountStatus();
    QCOMPARE(bar->PanelText(), QString(" Connected as \"trader7\""));
    QCOMPARE(bar->TextColor(), QColor(0, 128, 0));
    QCOMPARE(bar->toolTip(), bar->PanelText());

    const QList<QPair<int, QString>> red = {{2, " Another user connected as \"trader7\""},
                                            {3, " Bad user name, please re-login"},
                                            {4, " Bad password, please re-login"},
                                            {5, " Your account expired"}};
    for (const auto& [state, text] : red) {
        c->FConnectionStatus = state;
        form.RefreshAccountStatus();
        QCOMPARE(bar->PanelText(), text);
        QCOMPARE(bar->TextColor(), QColor(255, 0, 0));
    }
    // An unknown state leaves the bar as it was.
    c->FConnectionStatus = 9;
    form.RefreshAccountStatus();
    QCOMPARE(bar->PanelText(), QString(" Your account expired"));
}

void TMainFormTest::expiryBoundaries_data() {
    QTest::addColumn<qint64>("left");
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QColor>("color");
    const QColor red(255, 0, 0), yellow(255, 255, 0), green(0, 128, 0);
    const QString less = " Your account expires in less than one day";
    auto days = [](int d) { return QString(" Your account expires in %1 days").arg(d); };
    QTest::newRow("passed") << qint64(-2 * 86400) << 1 << QString() << QColor();
    QTest::newRow("now") << qint64(0) << 1 << QString() << QColor();
    QTest::newRow("one second") << qint64(1) << 1 << less << red;
    QTest::newRow("a second short of a day") << qint64(86399) << 1 << less << red;
    QTest::newRow("one day") << qint64(86400) << 1 << days(1) << red;
    QTest::newRow("two days and a second") << qint64(172801) << 1 << days(3) << red;
    QTest::newRow("three days") << qint64(259200) << 1 << days(3) << red;
    QTest::newRow("three days and a second") << qint64(259201) << 1 << days(4) << yellow;
    QTest::newRow("five days") << qint64(5 * 86400) << 1 << days(5) << yellow;
    QTest::newRow("ten days") << qint64(864000) << 1 << days(10) << yellow;
    QTest::newRow("ten days and a second") << qint64(864001) << 1 << days(11) << green;
    QTest::newRow("thirty days") << qint64(30 * 86400) << 1 << days(30) << green;
    QTest::newRow("last green second") << qint64(86399999) << 1 << days(1000) << green;
    QTest::newRow("1000 days") << qint64(86400000) << 1 << QString() << QColor();
    QTest::newRow("1200 days") << qint64(1200LL * 86400) << 1 << QString() << QColor();
    QTest::newRow("not connected") << qint64(86400) << 0 << QString() << QColor();
}

void TMainFormTest::expiryBoundaries() {
    QFETCH(qint64, left);
    QFETCH(int, state);
    QFETCH(QString, text);
    QFETCH(QColor, color);
    TMainFormFixture f;
    TZentrikProMainForm form;
    TFakeConnectionControl* c = f.Factory->Connection();
    c->FUserName = "trader7";
    c->FConnectionStatus = state;
    c->FAccountExpiration = expiryIn(left);
    form.RefreshAccountStatus();
    QCOMPARE(form.AccountExpirationStatusBar->PanelText(), text);
    if (color.isValid())
        QCOMPARE(form.AccountExpirationStatusBar->TextColor(), color);
    QCOMPARE(form.AccountExpirationStatusBar->toolTip(), text);
}

void TMainFormTest::statusBarClicks() {
    TMainFormFixture f;
    f.storeCredentials("trader7", "pw");
    TZentrikProMainForm form;
    TFakeConnectionControl* c = f.Factory->Connection();
    auto click = [&] { QTest::mouseClick(form.AccountExpirationStatusBar, Qt::LeftButton); };
    c->FConnectionStatus = 1;
    click();
    QCOMPARE(c->ResetCount, 0);
    QVERIFY(!form.LoginForm->isVisible());

    c->FConnectionStatus = 2;
    click();
    QCOMPARE(c->ResetCount, 1);

    c->FConnectionStatus = 4;
    QTest::mouseClick(form.AccountStatusStatusBar, Qt::LeftButton);
    QVERIFY(form.LoginForm->isVisible());

    c->FConnectionStatus = 5;
    click();
    QCOMPARE(zkShell::Opened(), QStringList{ConfigInfo().SignupURL});
}

void TMainFormTest::helpMenuFromConfiguration() {
    TMainFormFixture f;
    WriteTextFile(f.Install.filePath("Settings.ini"),
                  "[Settings]\nHelpURLList=Guide|https://h.example/guide|Dropped||Keys|"
                  "https://h.example/keys|Orphan\n");
    TZentrikProMainForm form;
    QStringList captions;
    for (QAction* a : form.HelpMenu->actions())
        captions << (a->isSeparator() ? QString("-") : a->text());
    QCOMPARE(captions, QStringList({"Guide", "Keys", "-", "About..."}));
    QCOMPARE(form.HelpURLs, QStringList({"https://h.example/guide", "https://h.example/keys"}));

    // F1 on key release opens the first entry, from the main window and from an alert window.
    QTest::keyRelease(&form, Qt::Key_F1);
    QCOMPARE(zkShell::Opened(), QStringList{"https://h.example/guide"});
    form.HelpMenu->actions()[1]->trigger();
    QCOMPARE(zkShell::Opened().last(), QString("https://h.example/keys"));

    // A list without any "|" gives no entry; F1 then does nothing.
    WriteTextFile(f.Install.filePath("Settings.ini"),
                  "[Settings]\nHelpURLList=https://h.example/only\n");
    zkShell::ClearOpened();
    TZentrikProMainForm plain;
    QCOMPARE(plain.HelpMenu->actions().size(), 2);
    // The separator still stands above "About...", though nothing comes before it, and is
    // drawn apart from the menu's frame.
    QVERIFY(plain.HelpMenu->actionGeometry(plain.HelpSeparator).height() > 0);
    QCOMPARE(LinesAbove(*plain.HelpMenu, plain.AboutMenuItem), 2);
    QCOMPARE(LinesAbove(*form.HelpMenu, form.AboutMenuItem), 2); // after the entries as well
    QTest::keyRelease(&plain, Qt::Key_F1);
    QVERIFY(zkShell::Opened().isEmpty());

    // 80,000 entries took 13 s and more before the window came up: the menu takes the first
    // thousand, at once.
    QByteArray list;
    for (int i = 0; i < 80000; ++i)
        list += "E" + QByteArray::number(i) + "|https://h.example/" + QByteArray::number(i) + "|";
    WriteTextFile(f.Install.filePath("Settings.ini"), "[Settings]\nHelpURLList=" + list + "\n");
    QElapsedTimer clock;
    clock.start();
    TZentrikProMainForm crowded;
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(crowded.HelpURLs.size(), qsizetype(MaxHelpEntries));
    QCOMPARE(crowded.HelpURLs.last(), QString("https://h.example/999"));
}

void TMainFormTest::closeRules() {
    TMainFormFixture f;
    f.storeCredentials("DEMO", "");
    const QString question = "Do you want to save layout?";
    const QString settingsKey = SettingsKeyPath() + "\\Settings";
    const QString desk = f.layoutFile("desk.zkl");
    {
        TZentrikProMainForm form;
        form.show();
        form.NewAlertWindow();
        form.LayoutSettings.SaveOnExit = 2;
        form.LayoutSettings.SaveLayoutName = desk;
        zkPrompts::SetNextAnswer(zkPrompts::TAnswer::Cancel);
        QVERIFY(!form.close());
        QVERIFY(form.isVisible());
        QCOMPARE(form.AlertWindows().size(), 1);
        QCOMPARE(messagesWith(question), 1);
        QVERIFY(!QFileInfo::exists(desk));
        // The choices were written all the same.
        QCOMPARE(ReadStringValue(TSettingsStore::Registry(), settingsKey, "SaveLayoutName", ""),
                 desk);
        QCOMPARE(ReadIntegerValue(TSettingsStore::Registry(), settingsKey, "SaveOnExit", -1), 2);

        zkPrompts::SetNextAnswer(zkPrompts::TAnswer::No);
        QVERIFY(form.close());
        QVERIFY(!QFileInfo::exists(desk));
    }
    {
        TZentrikProMainForm form;
        form.show();
        form.NewAlertWindow();
        form.NewAlertWindow();
        form.LayoutSettings.SaveOnExit = 2;
        form.LayoutSettings.SaveLayoutName = desk;
        zkPrompts::SetNextAnswer(zkPrompts::TAnswer::Yes);
        QVERIFY(form.close());
        QCOMPARE(fileAlertCount(desk), 2);
        QCOMPARE(TMainFormFixture::storedAlertCount(), -1);
    }
    {
        TZentrikProMainForm form;
        form.show();
        for (int i = 0; i < 3; ++i)
            form.NewAlertWindow();
        form.LayoutSettings.SaveOnExit = 0;
        form.LayoutSettings.SaveLayoutName.clear(); // the per-user store
        QVERIFY(form.close());
        QCOMPARE(TMainFormFixture::storedAlertCount(), 3);
        QCOMPARE(fileAlertCount(desk), 2);
    }
    {
        TZentrikProMainForm form;
        form.show();
        form.NewAlertWindow();
        form.LayoutSettings.SaveOnExit = 1;
        form.LayoutSettings.SaveLayoutName = desk;
        QVERIFY(form.close());
        QCOMPARE(fileAlertCount(desk), 2);
        QCOMPARE(TMainFormFixture::storedAlertCount(), 3);
    }
    QCOMPARE(messagesWith(question), 3); // Cancel, No, Yes
}

void TMainFormTest::terminateSavesWithoutAQuestion() {
    TMainFormFixture f;
    f.storeCredentials("DEMO", "");
    const QString t = f.layoutFile("t.zkl");
    QPointer<TZentrikProMainForm> form = new TZentrikProMainForm;
    form->setAttribute(Qt::WA_DeleteOnClose);
    form->show();
    form->NewAlertWindow();
    form->LayoutSettings.SaveOnExit = 2;
    form->LayoutSettings.SaveLayoutName = t;
    form->WMTerminate();
    QTRY_VERIFY(form.isNull());
    QCOMPARE(fileAlertCount(t), 1);
    QCOMPARE(messagesWith("Do you want to save layout?"), 0);

    const QString never = f.layoutFile("never.zkl");
    QPointer<TZentrikProMainForm> neverForm = new TZentrikProMainForm;
    neverForm->setAttribute(Qt::WA_DeleteOnClose);
    neverForm->show();
    neverForm->LayoutSettings.SaveOnExit = 1;
    neverForm->LayoutSettings.SaveLayoutName = never;
    neverForm->WMTerminate();
    QTRY_VERIFY(neverForm.isNull());
    QVERIFY(!QFileInfo::exists(never));

    // The end of the session saves to the per-user store, whatever SaveLayoutName says.
    TZentrikProMainForm session;
    session.LayoutSettings.SaveLayoutName = t;
    session.NewAlertWindow();
    session.NewAlertWindow();
    QCOMPARE(TMainFormFixture::storedAlertCount(), -1);
    session.EndSession();
    QCOMPARE(TMainFormFixture::storedAlertCount(), 2);
    QCOMPARE(fileAlertCount(t), 1);
}

void TMainFormTest::loginPromptRule() {
    struct TCase {
        QString User, Password;
        bool Prompt;
    };
    const QList<TCase> cases = {{"DEMO", "", false},      {"demo", "", true}, {"bob", "", true},
                                {"bob", "secret", false}, {"", "", true},     {"", "pw", true}};
    for (const TCase& c : cases) {
        TMainFormFixture f;
        f.storeCredentials(c.User, c.Password);
        TZentrikProMainForm form;
        QCOMPARE(f.Factory->Connection()->FUserName, c.User);
        // Posted, not called: nothing is open until the event loop runs.
        QVERIFY(!form.LoginForm->isVisible());
        QCoreApplication::processEvents();
        QVERIFY2(form.LoginForm->isVisible() == c.Prompt, qPrintable(c.User + "/" + c.Password));
    }
}

void TMainFormTest::creationErrorIsReportedAndWindowStillOpens() {
    TMainFormFixture f;
    f.Factory->PrepareConnection = [](TFakeConnectionControl& c) {
        c.Failing.insert("SetApplicationIcon");
    };
    TZentrikProMainForm form;
    QCOMPARE(messagesWith("Fake failure of SetApplicationIcon"), 1);
    // The steps after the failing one did not run, and the window still works.
    QVERIFY(form.SymbolListsForm == nullptr);
    QCOMPARE(form.windowTitle(), QString("Velquist"));
    form.show();
    QVERIFY(form.isVisible());
    form.SymbolListsMenuItem->trigger();
    form.RefreshAccountStatus();
    f.storeCredentials("DEMO", "");
}

void TMainFormTest::activationRestoresAMinimisedWindow() {
    TMainFormFixture f;
    f.storeCredentials("DEMO", "");
    TZentrikProMainForm form;
    form.show();
    form.showMinimized();
    QTRY_VERIFY(form.isMinimized());
    form.ActivateInstance();
    QTRY_VERIFY(!form.isMinimized());
    QVERIFY(form.isVisible());
}

// The symbol list refresh and the update check of the first activation run once, also with
// the fallback after the first showing; a refresh the service refuses is reported and does not
// cost the update check.
void TMainFormTest::firstJobsRunOnceEachOnItsOwn() {
    TMainFormFixture f;
    f.storeCredentials("DEMO", "");
    const QString url = "https://updates.example/build.txt";
    WriteTextFile(f.Install.filePath("Settings.ini"),
                  "[Settings]\nCheckUpdateURL=" + url.toUtf8() + "\n");
    f.Factory->Server->FailOnce.insert("RequestLists");
    auto sent = [&f] {
        QStringList all;
        for (const QPointer<TFakeNetRequestX>& n : std::as_const(f.Factory->NetRequests))
            if (n)
                all += n->Requests;
        return all;
    };
    TZentrikProMainForm form;
    QVERIFY(sent().isEmpty());
    form.show();
    QTRY_COMPARE(sent(), QStringList{url});
    QCOMPARE(f.Factory->Server->Log.count("RequestLists"), 1);
    QCOMPARE(messagesWith("Fake failure of RequestLists"), 1);

    // Past the fallback's moment, and activated again after another window: nothing twice.
    QTest::qWait(TZentrikProMainForm::FirstJobsAfterShowMs + 300);
    QWidget other;
    other.show();
    other.activateWindow();
    QTRY_VERIFY(other.isActiveWindow());
    form.activateWindow();
    QTRY_VERIFY(form.isActiveWindow());
    QCOMPARE(f.Factory->Server->Log.count("RequestLists"), 1);
    QCOMPARE(sent(), QStringList{url});
}

void TMainFormTest::newAlertWindowsAreOwnedAndRinged() {
    TMainFormFixture f;
    f.storeCredentials("DEMO", "");
    TZentrikProMainForm form;
    form.show();
    TAlertForm* a = form.NewAlertWindow();
    TAlertForm* b = form.NewAlertWindow();
    QVERIFY(a->isVisible() && b->isVisible());
    QCOMPARE(form.AlertWindows(), (QList<TAlertForm*>{a, b}));
    // The default record's size, not its place.
    QCOMPARE(a->size(), QSize(675, 335));
    QVERIFY(FormRing().Items.size() >= 3);
    const qsizetype ringSize = FormRing().Items.size();
    // Ctrl+N steps through the visible windows only; hidden companions are skipped.
    QList<QWidget*> visited;
    for (qsizetype i = 0; i < ringSize; ++i) {
        FormRing().HandleWindowKeys(Qt::Key_N, Qt::ControlModifier);
        QWidget* at = FormRing().Items[FormRing().Position].Form;
        QVERIFY(at->isVisible());
        if (!visited.contains(at))
            visited << at;
    }
    QCOMPARE(visited.size(), 3);
    a->close();
    QTRY_COMPARE(form.AlertWindows(), (QList<TAlertForm*>{b}));
}

void TMainFormTest::alertWindowsListsOnlyWholeWindows() {
    TMainFormFixture f;
    f.storeCredentials("DEMO", "");
    TZentrikProMainForm form;
    form.show();
    // While a window is being built (its component is made in its construction), the list
    // holds only the windows finished before it.
    QList<qsizetype> listedWhileBuilding;
    f.Factory->PrepareAlertWindow = [&](TFakeZentrikWindowX&) {
        listedWhileBuilding << form.AlertWindows().size();
    };
    TAlertForm* a = form.NewAlertWindow();
    TAlertForm* b = a->DuplicateWindow();
    TAlertForm* c = form.NewAlertWindow();
    QCOMPARE(listedWhileBuilding, (QList<qsizetype>{0, 1, 2}));
    QCOMPARE(form.AlertWindows(), (QList<TAlertForm*>{a, b, c}));

    // Being destroyed, a window is off the list before its component goes.
    int listedWhileGoing = -1;
    const auto watchGoing = [&](TAlertForm* w) {
        QObject::connect(w->ZentrikWindowX->Component(), &QObject::destroyed, &form,
                         [&, w] { listedWhileGoing = int(form.AlertWindows().count(w)); });
    };
    watchGoing(b);
    delete b;
    QCOMPARE(listedWhileGoing, 0);
    QCOMPARE(form.AlertWindows(), (QList<TAlertForm*>{a, c}));

    // A layout replaces every window: the old ones go, the new ones are listed in order.
    TLayout layout = CollectLayout(form);
    layout.Windows.push_back(layout.Windows.front());
    listedWhileGoing = -1;
    watchGoing(c);
    ApplyLayout(form, layout);
    QCOMPARE(listedWhileGoing, 0);
    QCOMPARE(listedWhileBuilding.mid(3), (QList<qsizetype>{0, 1, 2}));
    const QList<TAlertForm*> windows = form.AlertWindows();
    QCOMPARE(windows.size(), 3);
    for (TAlertForm* w : windows)
        QVERIFY(w->isVisible());
}

void TMainFormTest::terminateEndsTheCloseQuestion() {
    TMainFormFixture f;
    f.storeCredentials("DEMO", "");
    const QString desk = f.layoutFile("q.zkl");
    TZentrikProMainForm form;
    form.show();
    form.NewAlertWindow();
    form.LayoutSettings.SaveOnExit = 2;
    form.LayoutSettings.SaveLayoutName = desk;
    // A real question, with its own event loop, so the terminate comes while it is open.
    zkPrompts::SetScripted(false);
    QTimer::singleShot(200, &form, [&form] { form.WMTerminate(); });
    // Were the terminate lost, Cancel would be the answer; the test must not hang on it.
    QTimer::singleShot(4000, [] {
        if (auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
            box->reject();
    });
    const bool closed = form.close();
    zkPrompts::SetScripted(true);
    QVERIFY(closed);
    QVERIFY(form.Terminating);
    QCOMPARE(fileAlertCount(desk), 1);
}

void TMainFormTest::requestsDuringCreationAreKept() {
    TMainFormFixture f;
    f.storeCredentials("DEMO", "");
    const QString desk = f.layoutFile("r.zkl");
    TMainFormRequests requests;
    // Both come before there is a window to take them.
    requests.Activate();
    requests.Terminate();
    QPointer<TZentrikProMainForm> form = new TZentrikProMainForm;
    form->setAttribute(Qt::WA_DeleteOnClose);
    form->LayoutSettings.SaveOnExit = 2;
    form->LayoutSettings.SaveLayoutName = desk;
    form->showMinimized();
    QTRY_VERIFY(form->isMinimized());
    bool restored = false;
    connect(form, &TZentrikProMainForm::Closed, form,
            [&] { restored = !form->isMinimized() && form->Terminating; });
    requests.SetMainForm(form);
    QTRY_VERIFY(form.isNull());
    QVERIFY(restored);
    QCOMPARE(fileAlertCount(desk), 0);
    QCOMPARE(messagesWith("Do you want to save layout?"), 0);
}

void TMainFormTest::externalLinkingBringsTheWindowForward() {
    TMainFormFixture f;
    f.storeCredentials("DEMO", "");
    TZentrikProMainForm form;
    // Never shown yet, its main list already has the connector in front that programs link to.
    QVERIFY(!form.ConnectorForm->isVisible());
    QVERIFY(form.ConnectorForm->LinkList.IndexOf(MainListName()) >= 0);
    QVERIFY(form.ConnectorForm->FrontConnector());
    QCOMPARE(form.ConnectorForm->ListNameComboBox->currentText(), MainListName());
    form.show();
    form.ExternalLinkingMenuItem->trigger();
    QTRY_VERIFY(form.ConnectorForm->isActiveWindow());
    TAlertForm* alert = form.NewAlertWindow();
    alert->activateWindow();
    QTRY_VERIFY(alert->isActiveWindow());
    // Open already, behind the alert window: the menu brings it forward.
    form.ExternalLinkingMenuItem->trigger();
    QTRY_VERIFY(form.ConnectorForm->isActiveWindow());
}

namespace {
// Counts the raises a window receives.
struct TRaiseCounter : QObject {
    int Raises = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        Raises += event->type() == QEvent::ZOrderChange;
        return false;
    }
};
} // namespace

void TMainFormTest::bringForwardRepeatsOnlyWhenSomethingChanged() {
    TMainFormFixture f;
    f.storeCredentials("DEMO", "");
    TZentrikProMainForm form;
    form.show();
    TAlertForm* a = form.NewAlertWindow();
    TAlertForm* b = form.NewAlertWindow();
    QVERIFY(QTest::qWaitForWindowExposed(a) && QTest::qWaitForWindowExposed(b));
    TRaiseCounter raises;
    a->installEventFilter(&raises);

    form.BringWindowForward(a, true);
    QCOMPARE(raises.Raises, 1);
    QTRY_VERIFY(a->isActiveWindow());
    // Raised last, active and nothing of ours moved since: in front already.
    form.BringWindowForward(a, true);
    form.BringWindowForward(a, false);
    QCOMPARE(raises.Raises, 1);

    // Another of our windows took the activation: raised and activated again.
    b->activateWindow();
    QTRY_VERIFY(b->isActiveWindow());
    form.BringWindowForward(a, true);
    QCOMPARE(raises.Raises, 2);
    QTRY_VERIFY(a->isActiveWindow());

    // It lost the activation and got it back without a raise (focus without raising, as
    // some window managers give it): whatever came over it meanwhile may still be there.
    b->activateWindow();
    QTRY_VERIFY(b->isActiveWindow());
    a->activateWindow();
    QTRY_VERIFY(a->isActiveWindow());
    form.BringWindowForward(a, false);
    QCOMPARE(raises.Raises, 3);

    // Another window raised over it while it kept the activation.
    b->raise();
    QVERIFY(a->isActiveWindow());
    form.BringWindowForward(a, false);
    QCOMPARE(raises.Raises, 4);

    // Minimised or hidden since: shown and restored.
    a->showMinimized();
    form.BringWindowForward(a, true);
    QVERIFY(!a->isMinimized());
    QCOMPARE(raises.Raises, 5);
    QTRY_VERIFY(a->isActiveWindow());
    form.BringWindowForward(a, true); // active still: nothing to do
    QCOMPARE(raises.Raises, 5);
    a->hide();
    form.BringWindowForward(a, true);
    QVERIFY(a->isVisible());
    QCOMPARE(raises.Raises, 6);

    // The main window minimised: it comes back too.
    form.showMinimized();
    form.BringWindowForward(a, true);
    QVERIFY(!form.isMinimized());
    QCOMPARE(raises.Raises, 7);
}

void TMainFormTest::trayIconShowsStateAndUnseenAlerts() {
    TMainFormFixture f;
    TZentrikProMainForm form;
    TFakeConnectionControl* c = f.Factory->Connection();
    // Made once the client has first waited for events, not with the window: an event loop that
    // waits (QTest's waits do not) until it is there.
    QVERIFY(!form.TrayIcon);
    {
        QEventLoop loop;
        QTimer poll;
        connect(&poll, &QTimer::timeout, &loop, [&] {
            if (form.TrayIcon)
                loop.quit();
        });
        poll.start(10);
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    QVERIFY(form.TrayIcon);
    QSystemTrayIcon* tray = form.TrayIcon->Icon();
    const auto dot = [tray] {
        const QImage image = tray->icon().pixmap(32, 32).toImage();
        return image.pixelColor(24, 24).name();
    };

    c->FUserName = "DEMO";
    c->FConnectionStatus = 1;
    // The user is elsewhere.
    form.AlertHub->ClientActive = [] { return false; };
    for (int i = 0; i < 12; ++i)
        form.CountNewAlert();
    form.RefreshAccountStatus();
    QCOMPARE(tray->toolTip(), QString("Velquist \u2014 Connected as DEMO \u2014 12 new alerts"));
    const QString connected = dot();
    emit qApp->applicationStateChanged(Qt::ApplicationActive);
    form.CountNewAlert();
    c->FConnectionStatus = 0;
    form.RefreshAccountStatus();
    QCOMPARE(tray->toolTip(), QString("Velquist \u2014 Connecting as DEMO... \u2014 1 new alert"));
    const QString connecting = dot();
    c->FUserName.clear();
    form.RefreshAccountStatus();
    QCOMPARE(tray->toolTip(), QString("Velquist \u2014 Not connected \u2014 1 new alert"));
    const QString notConnected = dot();
    c->FUserName = "DEMO";
    c->FConnectionStatus = 4;
    form.RefreshAccountStatus();
    QCOMPARE(tray->toolTip(),
             QString("Velquist \u2014 Bad password, please re-login \u2014 1 new alert"));
    // Three states, three icons.
    QCOMPARE(QSet<QString>({connected, connecting, notConnected}).size(), 3);
    QCOMPARE(dot(), notConnected);

    // Alerts count while the user is elsewhere; activating a client window clears them.
    const int before = form.UnseenAlerts();
    form.CountNewAlert();
    QCOMPARE(form.UnseenAlerts(), before + 1);
    QCOMPARE(tray->toolTip(), QString("Velquist — Bad password, please re-login — 2 new alerts"));
    emit qApp->applicationStateChanged(Qt::ApplicationActive);
    QCOMPARE(form.UnseenAlerts(), 0);
    QCOMPARE(tray->toolTip(), QString("Velquist \u2014 Bad password, please re-login"));

    // The menu: its mute item and the Tools menu's are one switch.
    QCOMPARE(form.TrayIcon->ShowAllWindowsMenuItem->text(), QString("Show All Windows"));
    QCOMPARE(form.TrayIcon->ExitMenuItem->text(), QString("Exit"));
    QCOMPARE(tray->contextMenu(), form.TrayIcon->Menu());
    form.TrayIcon->MuteSoundsMenuItem->trigger();
    QVERIFY(form.SoundsAreMuted());
    QVERIFY(form.MuteSoundsMenuItem->isChecked());
    form.MuteSoundsMenuItem->trigger();
    QVERIFY(!form.TrayIcon->MuteSoundsMenuItem->isChecked());

    // Show All Windows restores minimised alert windows; Exit closes as File > Exit does.
    TAlertForm* w = form.NewAlertWindow();
    w->showMinimized();
    form.TrayIcon->ShowAllWindowsMenuItem->trigger();
    QVERIFY(!w->isMinimized());
    QVERIFY(w->isVisible());
    QSignalSpy closed(&form, &TZentrikProMainForm::Closed);
    zkPrompts::SetNextAnswer(zkPrompts::TAnswer::Cancel);
    form.TrayIcon->ExitMenuItem->trigger();
    QCOMPARE(closed.size(), 0); // the close question was answered Cancel
    QCOMPARE(messagesWith("Do you want to save layout?"), 1);
}

QTEST_MAIN(TMainFormTest)
#include "tst_main_form.moc"
