// The options dialog against fake components and temporary stores: what each page shows, what
// Save writes where and what it puts into the live objects.
#include "alerts/zkActions.h"
#include "broker/zkAlertBroker.h"
#include "config/zkBrokerSettings.h"
#include "config/zkConfig.h"
#include "config/zkInboxSettings.h"
#include "config/zkIniFile.h"
#include "config/zkLayoutSettings.h"
#include "config/zkSettings.h"
#include "config/zkWindowRecord.h"
#include "history/zkAlertRecorder.h"
#include "history/zkHistorySettings.h"
#include "history/zkHistoryStore.h"
#include "hub/zkAlertHub.h"
#include "inbox/zkAlertInbox.h"
#include "inbox/zkInboxServer.h"
#include "options/zkBrokerPage.h"
#include "options/zkConnectionPage.h"
#include "options/zkGeneralPage.h"
#include "options/zkInboxPage.h"
#include "options/zkLayoutsPage.h"
#include "options/zkOptionsForm.h"
#include "options/zkOptionsHost.h"
#include "options/zkUpdatesPage.h"
#include "platform/zkPrompts.h"
#include "updates/zkUpdateForm.h"
#include "zkFakeComponents.h"
#include "zkFakeDesk.h"
#include "zkTestSupport.h"

#include <QAccessible>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTabWidget>
#include <QTcpServer>
#include <QTimeEdit>
#include <QTreeWidget>
#include <QtTest>

#include <sys/stat.h>

namespace {

int modeOf(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

// Whether a file dialog's last filter choice lists the name. Qt's dialog reads the patterns in
// the caption's parentheses, the classic form those after the bar: both must take it.
bool LastChoiceShows(const QString& filter, const QString& name) {
    const QStringList parts = filter.split('|');
    if (parts.size() < 2)
        return false;
    const QString inCaption = parts[parts.size() - 2].section('(', 1).section(')', 0, 0);
    for (const QString& patterns : {inCaption, parts.last()}) {
        bool listed = false;
        for (const QString& p : patterns.split(QRegularExpression("[ ;]"), Qt::SkipEmptyParts)) {
            const QRegularExpression wildcard(QRegularExpression::wildcardToRegularExpression(p));
            listed = listed || wildcard.match(name).hasMatch();
        }
        if (!listed)
            return false;
    }
    return true;
}

struct TOptionsFixture : IOptionsHost {
    TClientSandbox Sandbox;
    std::shared_ptr<TFakeComponentFactory> Factory = std::make_shared<TFakeComponentFactory>();
    TScopedComponentFactory Scope{Factory};
    TFakeConnectionControl Connection;
    std::unique_ptr<TUpdateForm> Update;
    TLayoutSettings Layout;
    TFakeDesk Desk;
    std::unique_ptr<TAlertHub> Hub;
    std::unique_ptr<TOptionsForm> Form;

    TOptionsFixture() {
        CreateDefaultActionLists();
        Update = std::make_unique<TUpdateForm>(nullptr);
        SetLayoutDefaults(Layout);
        Form = std::make_unique<TOptionsForm>(this);
    }
    ~TOptionsFixture() override {
        Form.reset();
        Update.reset();
        Hub.reset();
    }
    IConnectionControl* OptionsConnection() override { return &Connection; }
    TUpdateForm* OptionsUpdateForm() override { return Update.get(); }
    TLayoutSettings& OptionsLayoutSettings() override { return Layout; }
    IAlertHub* OptionsAlertHub() override { return Hub.get(); }
    // The hub as the client starts it, with the stored settings.
    void startHub() {
        Hub = std::make_unique<TAlertHub>(Desk);
        Hub->StartRecorder(THistoryStore::DefaultPath());
        Hub->StartSources();
    }

    void open() {
        Form->show();
        QVERIFY(Form->isVisible());
    }
    void save() {
        Form->SaveButtonClick();
        QVERIFY(!Form->isVisible());
        QCOMPARE(Form->result(), int(QDialog::Accepted));
    }
    static QString local(const char* key) {
        zkIni::ClearCache();
        return zkIni::ReadValue(QStringLiteral("Local.ini"), QStringLiteral("Settings"),
                                QString::fromLatin1(key))
            .value_or(QStringLiteral("<missing>"));
    }
    TUpdateSchedule stored() const {
        TUpdateSchedule s;
        s.UpdateAtStartup = s.UpdateAtTime = false;
        s.UpdateSchedule = 0;
        ReadUpdateSchedule(TSettingsStore::Registry(), TUpdateForm::ScheduleKey(), s);
        return s;
    }
};

} // namespace

class TOptionsFormTest : public QObject {
    Q_OBJECT
private slots:
    void treeShowsOnePageAtATime() {
        TOptionsFixture f;
        QCOMPARE(f.Form->size(), QSize(575, 428));
        // Every page's icon fills the tree's large icon size, also where the style has only
        // a small picture.
        QTreeWidget* tree = f.Form->PagesTreeView;
        for (int i = 0; i < tree->topLevelItemCount(); ++i)
            QCOMPARE(tree->topLevelItem(i)->icon(0).actualSize(tree->iconSize()), tree->iconSize());
        f.open();
        f.Form->PagesTreeView->setCurrentItem(f.Form->PagesTreeView->topLevelItem(3));
        QCOMPARE(f.Form->PagesControl->currentWidget(), f.Form->LayoutsPage);
        QVERIFY(!f.Form->PagesControl->isTabVisible(0));
        f.Form->ShowPage(f.Form->PagesControl->count());
        QCOMPARE(f.Form->PagesControl->currentWidget(), f.Form->LayoutsPage);
        f.Form->reject();
        f.open(); // each showing starts on General
        QCOMPARE(f.Form->PagesControl->currentWidget(), f.Form->GeneralPage);
    }

    // The page follows the selection also when it is made without moving the tree's current
    // item, as an assistive technology selects a row.
    void pageFollowsTheSelection() {
        TOptionsFixture f;
        f.open();
        QTreeWidget* tree = f.Form->PagesTreeView;
        QAccessibleInterface* access = QAccessible::queryAccessibleInterface(tree);
        QVERIFY(access && access->tableInterface());
        QVERIFY(access->tableInterface()->selectRow(3));
        QCOMPARE(tree->selectedItems(), QList<QTreeWidgetItem*>{tree->topLevelItem(3)});
        QCOMPARE(tree->currentItem(), tree->topLevelItem(0));
        QCOMPARE(f.Form->PagesControl->currentWidget(), f.Form->LayoutsPage);
        QVERIFY(!f.Form->PagesControl->isTabVisible(0));
        // Nothing selected: the page stays.
        tree->clearSelection();
        QCOMPARE(f.Form->PagesControl->currentWidget(), f.Form->LayoutsPage);
        f.Form->reject();
        f.open(); // General again, selected and shown
        QCOMPARE(tree->selectedItems(), QList<QTreeWidgetItem*>{tree->topLevelItem(0)});
        QCOMPARE(f.Form->PagesControl->currentWidget(), f.Form->GeneralPage);
        f.Form->reject();
    }

    void timeOffsetRoundTrip() {
        TOptionsFixture f;
        f.open();
        QVERIFY(f.Form->GeneralPage->AddOffsetRadioButton->isChecked());
        QCOMPARE(f.Form->GeneralPage->HoursOffsetEdit->text(), QStringLiteral("0"));
        f.Form->GeneralPage->SubtractOffsetRadioButton->setChecked(true);
        f.Form->GeneralPage->HoursOffsetEdit->setText(QStringLiteral("2"));
        f.Form->GeneralPage->MinutesOffsetEdit->setText(QStringLiteral("30"));
        f.Form->GeneralPage->ContextHelpCheckBox->setChecked(true);
        f.save();
        QCOMPARE(f.Connection.FTimeOffset, -150);
        QCOMPARE(f.Connection.FHelpMode, 1);
        QCOMPARE(f.Connection.FShowGrid, 0);
        QCOMPARE(f.local("TimeOffset"), QStringLiteral("-150"));
        QCOMPARE(f.local("HelpMode"), QStringLiteral("1"));
        // The component's order of writes.
        QCOMPARE(f.Connection.Log.filter(QRegularExpression("^Set(HelpMode|ShowGrid|TimeOffset)")),
                 QStringList({"SetHelpMode(1)", "SetShowGrid(0)", "SetTimeOffset(-150)"}));

        f.Form->GeneralPage->HoursOffsetEdit->setText(QStringLiteral("7"));
        f.open();
        QVERIFY(f.Form->GeneralPage->SubtractOffsetRadioButton->isChecked());
        QCOMPARE(f.Form->GeneralPage->HoursOffsetEdit->text(), QStringLiteral("2"));
        QCOMPARE(f.Form->GeneralPage->MinutesOffsetEdit->text(), QStringLiteral("30"));
        QVERIFY(f.Form->GeneralPage->ContextHelpCheckBox->isChecked());
    }

    void keptHistoryPeriod() {
        TOptionsFixture f;
        f.startHub();
        f.open();
        // The dialog's height is fixed: the General page's controls must fit it unsqueezed.
        QWidget* general = f.Form->GeneralPage;
        QVERIFY2(general->minimumSizeHint().height() <= general->height(),
                 qPrintable(QString("%1 > %2")
                                .arg(general->minimumSizeHint().height())
                                .arg(general->height())));
        QCOMPARE(f.Form->GeneralPage->HistoryDaysSpinBox->value(), 30);
        f.Form->GeneralPage->HistoryDaysSpinBox->setValue(0);
        f.save();
        QCOMPARE(ReadHistoryDays(TSettingsStore::Registry()), 0);
        QCOMPARE(f.Hub->Recorder()->KeepDays(), 0); // at once, not at the next start
        f.open();
        QCOMPARE(f.Form->GeneralPage->HistoryDaysSpinBox->value(), 0);
        f.Form->GeneralPage->HistoryDaysSpinBox->setValue(7);
        f.save();
        QCOMPARE(f.Hub->Recorder()->KeepDays(), 7);
    }

    void numericFieldsThatAreNoNumbers_data() {
        QTest::addColumn<QStringList>("fields"); // hours, minutes, port
        QTest::newRow("letters") << QStringList{"two", "30", "eighty"};
        QTest::newRow("blanks") << QStringList{"", " ", ""};
        QTest::newRow("huge") << QStringList{"99999999999", "0", "99999999999"};
        QTest::newRow("sum beyond 32 bits") << QStringList{"2000000000", "5", "1e3"};
    }
    void numericFieldsThatAreNoNumbers() {
        QFETCH(QStringList, fields);
        TOptionsFixture f;
        f.Connection.FTimeOffset = 45;
        f.open();
        f.Form->GeneralPage->HoursOffsetEdit->setText(fields[0]);
        f.Form->GeneralPage->MinutesOffsetEdit->setText(fields[1]);
        f.Form->ConnectionPage->ProxyTypeComboBox->setCurrentIndex(2);
        f.Form->ConnectionPage->HostEdit->setText(QStringLiteral("socks.example"));
        f.Form->ConnectionPage->PortEdit->setText(fields[2]);
        f.Form->ConnectionPage->SOCKSVersionEdit->setText(QStringLiteral("five"));
        f.save();
        QCOMPARE(f.Connection.FTimeOffset, 0);
        QCOMPARE(f.local("TimeOffset"), QStringLiteral("0"));
        QCOMPARE(f.local("SocksPort"), QStringLiteral("0"));
        QCOMPARE(f.local("SocksVersion"), QStringLiteral("0"));
        QCOMPARE(f.local("SocksHost"), QStringLiteral("socks.example"));
        QCOMPARE(f.local("ProxyServer"), QString());
    }

    void proxyTypeFollowsTheComponent() {
        TOptionsFixture f;
        f.Connection.FProxyServer = QStringLiteral("proxy.example");
        f.Connection.FProxyPort = 3128;
        f.Connection.FSocksHost = QStringLiteral("  ");
        f.open();
        QCOMPARE(f.Form->ConnectionPage->ProxyTypeComboBox->currentText(), QStringLiteral("HTTP"));
        QCOMPARE(f.Form->ConnectionPage->HostEdit->text(), QStringLiteral("proxy.example"));
        QCOMPARE(f.Form->ConnectionPage->PortEdit->text(), QStringLiteral("3128"));
        QVERIFY(f.Form->ConnectionPage->HostEdit->isEnabled());
        QVERIFY(f.Form->ConnectionPage->SOCKSVersionEdit->isHidden());
        f.Form->reject();

        // Both set: SOCKS wins.
        f.Connection.FSocksHost = QStringLiteral("socks.example");
        f.Connection.FSocksPort = 1080;
        f.Connection.FSocksVersion = 5;
        f.open();
        QCOMPARE(f.Form->ConnectionPage->ProxyTypeComboBox->currentText(), QStringLiteral("SOCKS"));
        QCOMPARE(f.Form->ConnectionPage->HostEdit->text(), QStringLiteral("socks.example"));
        QCOMPARE(f.Form->ConnectionPage->SOCKSVersionEdit->text(), QStringLiteral("5"));
        QVERIFY(!f.Form->ConnectionPage->SOCKSVersionEdit->isHidden());
    }

    void connectionSectionIsAppliedOnlyWhenChanged() {
        TOptionsFixture f;
        f.Connection.FProxyServer = QStringLiteral("proxy.example");
        f.Connection.FProxyPort = 8080;
        f.Connection.FProxyPassword = QStringLiteral("s3cret");
        f.open();
        f.save();
        QVERIFY(f.Connection.PropertiesByName.isEmpty());
        QCOMPARE(f.local("ProxyPassword"), QStringLiteral("s3cret"));

        f.open();
        f.Form->ConnectionPage->UseHTTPCheckBox->setChecked(true);
        f.save();
        QVERIFY(f.Connection.PropertiesByName.contains(
            {QStringLiteral("UseHttpTunnel"), QStringLiteral("1")}));
    }

    void localIniIsPrivate() {
        TOptionsFixture f;
        // Already there and readable by everyone.
        WriteTextFile(f.Sandbox.dir() + "/Local.ini", "[Settings]\nServerURL=x\n");
        const QString path = f.Sandbox.dir() + "/Local.ini";
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                        QFileDevice::ReadGroup | QFileDevice::ReadOther);
        f.Connection.FProxyPassword = QStringLiteral("pw");
        f.Connection.FProxyServer = QStringLiteral("proxy.example");
        f.open();
        f.save();
        QCOMPARE(modeOf(path), 0600);
        QCOMPARE(f.local("ServerURL"), QStringLiteral("x"));
    }

    void updateScheduleRoundTrip() {
        TOptionsFixture f;
        f.open();
        // Defaults: both checks, midnight New York.
        QVERIFY(f.Form->UpdatesPage->UpdateAtStartupCheckBox->isChecked());
        QVERIFY(f.Form->UpdatesPage->DailyNYMidnightRadioButton->isChecked());
        QVERIFY(f.Form->UpdatesPage->WeekdayComboBox->isEnabled());

        f.Form->UpdatesPage->WeeklyRadioButton->setChecked(true);
        f.Form->UpdatesPage->WeekdayComboBox->setCurrentIndex(6);
        f.Form->UpdatesPage->WeeklyTimePicker->setTime(QTime(7, 45));
        f.save();
        TUpdateSchedule s = f.stored();
        QCOMPARE(int(s.UpdateSchedule), 3);
        QCOMPARE(s.UpdateDayOfWeek, 7);
        QCOMPARE(s.UpdateDayNumber, 1);
        QCOMPARE(s.UpdateTime, 1000.0 + (7 * 60 + 45) / 1440.0);
        QCOMPARE(int(f.Update->Schedule.UpdateSchedule), 3);

        f.open();
        QCOMPARE(f.Form->UpdatesPage->WeeklyTimePicker->time(), QTime(7, 45));
        f.Form->UpdatesPage->MonthlyRadioButton->setChecked(true);
        f.Form->UpdatesPage->DayComboBox->setCurrentIndex(30);
        f.Form->UpdatesPage->MonthlyTimePicker->setTime(QTime(23, 5));
        f.save();
        s = f.stored();
        QCOMPARE(int(s.UpdateSchedule), 4);
        QCOMPARE(s.UpdateDayNumber, 31);
        QCOMPARE(s.UpdateDayOfWeek, 1);

        // Off: the neutral record, whatever the buttons show.
        f.open();
        f.Form->UpdatesPage->UpdateAtTimeCheckBox->click();
        QVERIFY(!f.Form->UpdatesPage->MonthlyTimePicker->isEnabled());
        QVERIFY(!f.Form->UpdatesPage->MonthlyDayAtLabel->isEnabled());
        f.Form->UpdatesPage->UpdateAtStartupCheckBox->setChecked(false);
        f.save();
        s = f.stored();
        QVERIFY(!s.UpdateAtTime && !s.UpdateAtStartup);
        QCOMPARE(QList<double>({double(s.UpdateSchedule), s.UpdateTime, double(s.UpdateDayNumber),
                                double(s.UpdateDayOfWeek)}),
                 QList<double>({1, 1000.0, 1, 1}));
    }

    void checkNowAsksAtOnce() {
        TOptionsFixture f;
        ConfigInfo().CheckUpdateURL = QStringLiteral("https://updates.example/b");
        f.open();
        f.Form->UpdatesPage->CheckNowButton->click();
        QCOMPARE(f.Factory->NetRequests.last()->Requests.size(), 1);
        QVERIFY(f.Update->ManualCheck);
    }

    void clickRewritesBothDefaultLists() {
        TOptionsFixture f;
        EnsureSavedWindowsDir();
        WriteTextFile(DefaultWindowFileName(), "[AlertWindow]\nActionsCount=0\n");
        DefaultWindowActions() = {"2,4,MAIN LIST", "1,3", "1,4,Gappers",
                                  "3,2,beep",      "2,4", "2,4,List, with comma"};
        LayoutDefaultActions() = {"1,3"};
        SaveDefaultActionLists();
        CreateDefaultActionLists(); // the dialog must read them back from the stores
        f.open();
        QVERIFY(f.Form->GeneralPage->DoubleClickRadioButton->isChecked());
        f.Form->GeneralPage->ClickRadioButton->setChecked(true);
        f.save();
        const QStringList clicked{"3,4,MAIN LIST", "1,3", "1,4,Gappers",
                                  "3,2,beep",      "3,4", "3,4,List, with comma"};
        CreateDefaultActionLists();
        LoadDefaultActionLists();
        QCOMPARE(DefaultWindowActions(), clicked);
        QCOMPARE(LayoutDefaultActions(), clicked);
        QCOMPARE(SelectionTrigger(), 3);

        f.open();
        QVERIFY(f.Form->GeneralPage->ClickRadioButton->isChecked());
        f.Form->GeneralPage->DoubleClickRadioButton->setChecked(true);
        f.save();
        QCOMPARE(DefaultWindowActions().first(), QStringLiteral("2,4,MAIN LIST"));
        QCOMPARE(SelectionTrigger(), 2);
    }

    // Without DEFAULT_WINDOW.zka (as on every fresh installation) the click or double-click
    // choice survives a restart; with that file, the file still decides.
    void selectionChoiceSurvivesARestart() {
        TOptionsFixture f;
        const auto restart = [&f] {
            // As the main window's creation: lists anew, loaded from the stores; a new dialog.
            f.Form.reset();
            zkIni::ClearCache();
            CreateDefaultActionLists();
            LoadDefaultActionLists();
            f.Form = std::make_unique<TOptionsForm>(&f);
            f.open();
        };
        restart();
        QVERIFY(!QFileInfo::exists(DefaultWindowFileName()));
        QVERIFY(f.Form->GeneralPage->DoubleClickRadioButton->isChecked());
        f.Form->GeneralPage->ClickRadioButton->setChecked(true);
        f.save();

        restart();
        QVERIFY(f.Form->GeneralPage->ClickRadioButton->isChecked());
        QCOMPARE(SelectionTrigger(), 3);
        QCOMPARE(DefaultWindowActions(), QStringList{"3,4,MAIN LIST"});
        QCOMPARE(LayoutDefaultActions(), QStringList{"3,4,MAIN LIST"});
        TActionTable table; // a new window's selection entry reacts to a click
        ParseActions({"2,4,Gappers"}, table);
        QCOMPARE(table.Trigger, QStringList{"3"});
        // The choice has no file made for it behind the user's back.
        QVERIFY(!QFileInfo::exists(DefaultWindowFileName()));

        f.Form->GeneralPage->DoubleClickRadioButton->setChecked(true);
        f.save();
        restart();
        QVERIFY(f.Form->GeneralPage->DoubleClickRadioButton->isChecked());
        QCOMPARE(SelectionTrigger(), 2);
        f.Form->GeneralPage->ClickRadioButton->setChecked(true);
        f.save();

        // A default window file keeps deciding: the per-user list's click does not override
        // its double-click.
        WriteTextFile(DefaultWindowFileName(),
                      "[AlertWindow]\nActionsCount=2\nAction0=2,4,MAIN LIST\nAction1=1,3\n");
        restart();
        QVERIFY(f.Form->GeneralPage->DoubleClickRadioButton->isChecked());
        QCOMPARE(DefaultWindowActions(), QStringList({"2,4,MAIN LIST", "1,3"}));
        QCOMPARE(LayoutDefaultActions(), QStringList{"3,4,MAIN LIST"});
        f.Form->reject();
    }

    // The Alert Inbox page: a token appears as soon as the inbox is switched on, the address
    // follows port and token, Save stores the settings and restarts the running inbox, and the
    // page says where it listens or why it cannot.
    void alertInboxPage() {
        TOptionsFixture f;
        f.startHub();
        f.open();
        TInboxPage& o = *f.Form->InboxPage;
        QVERIFY(!o.InboxEnabledCheckBox->isChecked());
        QCOMPARE(o.InboxPortSpinBox->value(), 8731);
        QVERIFY(o.InboxTokenEdit->text().isEmpty());
        QVERIFY(o.InboxAddressEdit->text().isEmpty());
        QVERIFY(o.InboxOpenWindowsCheckBox->isChecked());
        QCOMPARE(o.InboxStatusLabel->text(),
                 QString("Not listening: alerts from other programs are off"));

        // A free port for this test.
        quint16 port = 0;
        {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            port = probe.serverPort();
        }
        o.InboxEnabledCheckBox->setChecked(true);
        const QString token = o.InboxTokenEdit->text();
        QVERIFY2(QRegularExpression("^[0-9a-f]{32,}$").match(token).hasMatch(), qPrintable(token));
        o.InboxPortSpinBox->setValue(port);
        const QString address = QString("http://127.0.0.1:%1/alerts/%2").arg(port).arg(token);
        QCOMPARE(o.InboxAddressEdit->text(), address);
        o.InboxCopyButton->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), address);
        o.InboxNewTokenButton->click();
        QVERIFY(o.InboxTokenEdit->text() != token);
        QVERIFY(o.InboxAddressEdit->text().endsWith(o.InboxTokenEdit->text()));
        o.InboxOpenWindowsCheckBox->setChecked(false);
        f.save();

        const TInboxSettings stored = ReadInboxSettings(TSettingsStore::Registry());
        QVERIFY(stored.Enabled);
        QCOMPARE(stored.Port, port);
        QCOMPARE(stored.Token, o.InboxTokenEdit->text());
        QVERIFY(!stored.OpenNewWindows);
        QVERIFY(f.Hub->Inbox()->IsListening());
        f.open();
        QCOMPARE(o.InboxStatusLabel->text(), QString("Listening on 127.0.0.1:%1").arg(port));

        // The status line follows the choices before Save.
        QTcpServer other; // another program's port
        QVERIFY(other.listen(QHostAddress::LocalHost, 0));
        const QString taken = QString::number(other.serverPort());
        o.InboxEnabledCheckBox->setChecked(false);
        QCOMPARE(o.InboxStatusLabel->text(),
                 QString("Listening on 127.0.0.1:%1 until Save; then alerts from other programs "
                         "are off")
                     .arg(port));
        o.InboxEnabledCheckBox->setChecked(true);
        const quint16 free = FreePort();
        o.InboxPortSpinBox->setValue(free);
        QCOMPARE(o.InboxStatusLabel->text(),
                 QString("Will listen on 127.0.0.1:%1 after Save").arg(free));
        o.InboxPortSpinBox->setValue(other.serverPort());
        const QString clash = QString("Cannot listen: port %1 is in use by another program; alerts "
                                      "still come in on 127.0.0.1:%2")
                                  .arg(taken)
                                  .arg(port);
        QCOMPARE(o.InboxStatusLabel->text(), clash);

        // Saving it is refused at once: the dialog stays, nothing is stored (not even the pages
        // before this one), the working port goes on, and the token shown is not taken either.
        // The port is there to be typed over.
        o.InboxNewTokenButton->click();
        const int keptDays = ReadHistoryDays(TSettingsStore::Registry());
        f.Form->GeneralPage->HistoryDaysSpinBox->setValue(keptDays + 1);
        zkPrompts::ClearScript();
        f.Form->SaveButtonClick();
        QVERIFY(f.Form->isVisible());
        QCOMPARE(zkPrompts::Shown().size(), 1);
        QVERIFY2(zkPrompts::Shown()[0].Text.startsWith("The alert inbox cannot listen on port " +
                                                       taken + ": port " + taken +
                                                       " is in use by another program."),
                 qPrintable(zkPrompts::Shown()[0].Text));
        QCOMPARE(f.Form->PagesControl->currentWidget(), &o);
        QVERIFY(f.Form->focusWidget() == o.InboxPortSpinBox ||
                o.InboxPortSpinBox->isAncestorOf(f.Form->focusWidget()));
        QCOMPARE(o.InboxPortSpinBox->findChild<QLineEdit*>()->selectedText(), taken);
        QCOMPARE(ReadHistoryDays(TSettingsStore::Registry()), keptDays);
        QCOMPARE(o.InboxStatusLabel->text(), clash);
        QCOMPARE(ReadInboxSettings(TSettingsStore::Registry()).Port, port);
        QVERIFY(f.Hub->Inbox()->IsListening());
        QCOMPARE(f.Hub->Inbox()->Server().Port(), port);
        QCOMPARE(ReadInboxSettings(TSettingsStore::Registry()).Token, stored.Token);
        QVERIFY(!f.Hub->Inbox()->StatusText().contains(taken));
        f.Form->reject();

        // A port that could not be had before the dialog either does not hold up other changes.
        TInboxSettings blocked = stored;
        blocked.Port = other.serverPort();
        WriteInboxSettings(TSettingsStore::Registry(), blocked);
        QVERIFY(!f.Hub->ApplyInboxSettings(blocked));
        f.Hub->ApplyInboxSettings(TInboxSettings()); // off, as at a start where the port was taken
        QVERIFY(!f.Hub->ApplyInboxSettings(blocked));
        QVERIFY(!f.Hub->Inbox()->IsListening());
        f.open();
        QCOMPARE(o.InboxStatusLabel->text(),
                 QString("Cannot listen: port %1 is in use by another program").arg(taken));
        o.InboxOpenWindowsCheckBox->setChecked(true);
        f.save();
        QVERIFY(ReadInboxSettings(TSettingsStore::Registry()).OpenNewWindows);
    }

    // Neither Browse takes a name in a folder that does not exist (saving the layout there
    // would fail at exit): the dialog says so and asks again in the initial folder.
    void brokerPage() {
        TOptionsFixture f;
        f.startHub();
        f.open();
        TBrokerPage* page = f.Form->BrokerPage;
        f.Form->PagesTreeView->setCurrentItem(f.Form->PagesTreeView->topLevelItem(5));
        QCOMPARE(f.Form->PagesControl->currentWidget(), page);
        QVERIFY(!page->BrokerEnabledCheckBox->isChecked());
        QCOMPARE(page->BrokerPortSpinBox->value(), 8883);
        QVERIFY(page->BrokerTLSCheckBox->isChecked());
        QCOMPARE(page->BrokerTopicEdit->text(), QString("velquist/alerts/#"));
        QCOMPARE(page->BrokerStatusLabel->text(),
                 QString("Not connected: alerts from a broker are off"));
        QCOMPARE(page->BrokerStatusLabel->textFormat(), Qt::PlainText);
        QVERIFY(page->BrokerPasswordEdit->echoMode() == QLineEdit::Password);
        // Every control is named for assistive technologies and reached with Tab.
        for (QWidget* w : {static_cast<QWidget*>(page->BrokerEnabledCheckBox),
                           static_cast<QWidget*>(page->BrokerHostEdit),
                           static_cast<QWidget*>(page->BrokerPortSpinBox),
                           static_cast<QWidget*>(page->BrokerTLSCheckBox),
                           static_cast<QWidget*>(page->BrokerCAFileEdit),
                           static_cast<QWidget*>(page->BrokerCABrowseButton),
                           static_cast<QWidget*>(page->BrokerUserNameEdit),
                           static_cast<QWidget*>(page->BrokerPasswordEdit),
                           static_cast<QWidget*>(page->BrokerTopicEdit),
                           static_cast<QWidget*>(page->BrokerDeskNameEdit)})
            QVERIFY2((w->focusPolicy() & Qt::TabFocus) && !w->accessibleName().isEmpty(),
                     qPrintable(w->objectName()));

        // Without TLS to another machine the password travels in the clear; the port follows.
        page->BrokerHostEdit->setText("broker.example.com");
        QVERIFY(page->BrokerWarningLabel->isHidden());
        page->BrokerTLSCheckBox->click();
        QCOMPARE(page->BrokerPortSpinBox->value(), 1883);
        QVERIFY(!page->BrokerCAFileEdit->isEnabled());
        QVERIFY(!page->BrokerWarningLabel->isHidden());
        QVERIFY(page->BrokerWarningLabel->text().contains("in the clear"));
        page->BrokerHostEdit->setText("127.0.0.1");
        QVERIFY(page->BrokerWarningLabel->isHidden());
        page->BrokerTLSCheckBox->click();
        QCOMPARE(page->BrokerPortSpinBox->value(), 8883);

        // The CA file through the file dialog.
        zkPrompts::ClearScript();
        zkPrompts::SetNextFileName(f.Sandbox.dir() + "/ca.pem");
        page->BrokerCABrowseButton->click();
        QCOMPARE(page->BrokerCAFileEdit->text(), f.Sandbox.dir() + "/ca.pem");
        QVERIFY(zkPrompts::Shown().value(0).File.FileMustExist);

        // Save: stored with a client id made once, and the running source connects at once.
        const quint16 nobody = FreePort();
        page->BrokerEnabledCheckBox->click();
        page->BrokerPortSpinBox->setValue(nobody);
        page->BrokerTLSCheckBox->click();
        page->BrokerUserNameEdit->setText("desk1");
        page->BrokerPasswordEdit->setText("secret");
        page->BrokerTopicEdit->setText("  ");
        f.save();
        TBrokerSettings stored = ReadBrokerSettings(TSettingsStore::Registry());
        QVERIFY(stored.Enabled);
        QCOMPARE(stored.Host, QString("127.0.0.1"));
        QCOMPARE(stored.Port, nobody);
        QVERIFY(!stored.TLS);
        QCOMPARE(stored.UserName, QString("desk1"));
        QCOMPARE(stored.Password, QString("secret"));
        QCOMPARE(stored.Topic, QString("velquist/alerts/#"));
        QVERIFY(stored.ClientId.startsWith("velquist-"));
        QVERIFY(f.Hub->Broker()->IsEnabled());
        // The status line follows the connection while the page is shown.
        f.open();
        QTRY_VERIFY2(page->BrokerStatusLabel->text().startsWith(
                         QString("Not connected: 127.0.0.1:%1 refused the connection").arg(nobody)),
                     qPrintable(page->BrokerStatusLabel->text()));
        QCOMPARE(page->BrokerPasswordEdit->text(), QString("secret"));
        // The name other devices send this desk symbols under: shown, never edited.
        QCOMPARE(page->BrokerDeskNameEdit->text(), stored.ClientId);
        QVERIFY(page->BrokerDeskNameEdit->isReadOnly());
        f.save();
        QCOMPARE(ReadBrokerSettings(TSettingsStore::Registry()).ClientId, stored.ClientId);
        // Off again: disconnected.
        f.open();
        page->BrokerEnabledCheckBox->click();
        f.save();
        QVERIFY(!f.Hub->Broker()->IsEnabled());
    }

    void browseRefusesAMissingFolder() {
        TOptionsFixture f;
        f.open();
        const QString gone = f.Sandbox.dir() + "/gone/layout.zkl";
        const QString good = f.Sandbox.dir() + "/SavedWindows/layout.zkl";
        for (QPushButton* browse :
             {f.Form->LayoutsPage->SaveBrowseButton, f.Form->LayoutsPage->LoadBrowseButton}) {
            QLineEdit* edit = browse == f.Form->LayoutsPage->SaveBrowseButton
                                  ? f.Form->LayoutsPage->SaveNameEdit
                                  : f.Form->LayoutsPage->LoadNameEdit;
            const QString kind = browse == f.Form->LayoutsPage->SaveBrowseButton ? "save" : "open";
            edit->setText("/desk/before.zkl");
            zkPrompts::ClearScript();
            zkPrompts::SetNextFileName(gone);
            zkPrompts::SetNextFileName(std::nullopt); // then the user cancels
            browse->click();
            QCOMPARE(edit->text(), QStringLiteral("/desk/before.zkl"));
            const QList<zkPrompts::TPromptRecord> asked = zkPrompts::Shown();
            QCOMPARE(asked.size(), 3);
            QCOMPARE(asked[0].Kind, kind);
            QVERIFY(asked[0].File.PathMustExist);
            QCOMPARE(asked[1].Kind, QStringLiteral("message"));
            QVERIFY2(asked[1].Text.contains(f.Sandbox.dir() + "/gone") &&
                         asked[1].Text.contains("The folder does not exist"),
                     qPrintable(asked[1].Text));
            QCOMPARE(asked[2].Kind, kind);
            QCOMPARE(asked[2].File.InitialDir, SavedWindowsDir());
            QCOMPARE(asked[2].File.FileName, QStringLiteral("layout.zkl"));

            zkPrompts::SetNextFileName(gone);
            zkPrompts::SetNextFileName(good);
            browse->click();
            QCOMPARE(edit->text(), good);
        }
        QVERIFY(!QFileInfo::exists(f.Sandbox.dir() + "/gone"));
        f.Form->reject();
    }

    void layoutsPage() {
        TOptionsFixture f;
        f.Layout = {0, "/desk/a.zkl", false, "/desk/b.zkl"};
        f.open();
        QVERIFY(f.Form->LayoutsPage->OnExitButtons->button(0)->isChecked());
        QCOMPARE(f.Form->LayoutsPage->SaveNameEdit->text(), QStringLiteral("/desk/a.zkl"));
        f.Form->LayoutsPage->SameAsBelowButton->click();
        QCOMPARE(f.Form->LayoutsPage->SaveNameEdit->text(), QStringLiteral("/desk/b.zkl"));
        f.Form->LayoutsPage->LoadNameEdit->setText(QStringLiteral("/desk/c.zkl"));
        f.Form->LayoutsPage->SameAsAboveButton->click();
        QCOMPARE(f.Form->LayoutsPage->LoadNameEdit->text(), QStringLiteral("/desk/b.zkl"));

        // Browse: the folder is made, the dialog set up, the answer taken.
        zkPrompts::SetNextFileName(f.Sandbox.dir() + "/SavedWindows/picked.zkl");
        f.Form->LayoutsPage->SaveBrowseButton->click();
        QVERIFY(QFileInfo(SavedWindowsDir()).isDir());
        QCOMPARE(zkPrompts::Shown().last().File.InitialDir, SavedWindowsDir());
        // "All files" lists files without a dot too.
        const QString filter = zkPrompts::Shown().last().File.Filter;
        QVERIFY2(LastChoiceShows(filter, "notes") && LastChoiceShows(filter, "a.zkl"),
                 qPrintable(filter));
        // A read-only file is refused with a message and the dialog asks again.
        const QString locked = f.Sandbox.dir() + "/SavedWindows/locked.zkl";
        WriteTextFile(locked, "[x]\n");
        QFile::setPermissions(locked, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
        zkPrompts::SetNextFileName(locked);
        zkPrompts::SetNextFileName(f.Sandbox.dir() + "/SavedWindows/other.zkl");
        const qsizetype shownBefore = zkPrompts::Shown().size();
        f.Form->LayoutsPage->SaveBrowseButton->click();
        QCOMPARE(f.Form->LayoutsPage->SaveNameEdit->text(),
                 f.Sandbox.dir() + "/SavedWindows/other.zkl");
        const QList<zkPrompts::TPromptRecord> asked = zkPrompts::Shown().mid(shownBefore);
        QCOMPARE(asked.size(), 3); // save, the refusal, save again on the refused name
        QVERIFY(asked[1].Text.contains("This file is set to read-only"));
        QCOMPARE(asked[2].File.FileName, locked);
        // The load dialog takes it: reading is all it needs.
        zkPrompts::SetNextFileName(locked);
        f.Form->LayoutsPage->LoadBrowseButton->click();
        QCOMPARE(f.Form->LayoutsPage->LoadNameEdit->text(), locked);
        f.Form->LayoutsPage->LoadNameEdit->setText("/desk/b.zkl");
        f.Form->LayoutsPage->SaveNameEdit->setText(f.Sandbox.dir() + "/SavedWindows/picked.zkl");
        zkPrompts::SetNextFileName(std::nullopt); // cancelled: the name stays
        f.Form->LayoutsPage->LoadBrowseButton->click();
        QCOMPARE(f.Form->LayoutsPage->LoadNameEdit->text(), QStringLiteral("/desk/b.zkl"));

        f.Form->LayoutsPage->OnExitButtons->button(1)->setChecked(true);
        f.save();
        QCOMPARE(f.Layout.SaveOnExit, 1);
        QCOMPARE(f.Layout.SaveLayoutName, f.Sandbox.dir() + "/SavedWindows/picked.zkl");
        QCOMPARE(f.Layout.LoadLayoutName, QStringLiteral("/desk/b.zkl"));
        QVERIFY(!f.Layout.LoadOnStart);

        // Restore Defaults changes the page only.
        f.open();
        f.Form->LayoutsPage->RestoreDefaultsButton->click();
        QVERIFY(f.Form->LayoutsPage->OnExitButtons->button(2)->isChecked());
        QCOMPARE(f.Form->LayoutsPage->LoadNameEdit->text(), DefaultLayoutFileName());
        QVERIFY(f.Form->LayoutsPage->LoadOnStartCheckBox->isChecked());
        f.Form->reject();
        QCOMPARE(f.Layout.SaveOnExit, 1);
    }
};

QTEST_MAIN(TOptionsFormTest)
#include "tst_options_form.moc"
