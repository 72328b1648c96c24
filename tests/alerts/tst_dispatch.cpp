#include "alerts/zkActions.h"
#include "alerts/zkAlertActions.h"
#include "alerts/zkAlertAnnouncer.h"
#include "alerts/zkAlertForm.h"
#include "alerts/zkAlertNotifications.h"
#include "alerts/zkSoundPlayForm.h"
#include "alerts/zkSoundQueue.h"
#include "components/zkComponentWrappers.h"
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "config/zkWindowRecord.h"
#include "desk/zkAlertPublisher.h"
#include "desktop/zkDesktopNotifications.h"
#include "hub/zkAlertHub.h"
#include "linking/zkGenericConnectorForm.h"
#include "platform/zkPrompts.h"
#include "shell/zkMainForm.h"
#include "zkFakeComponents.h"
#include "zkFakeDesk.h"
#include "zkQuietTestUtil.h"
#include "zkTestSupport.h"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>
#include <utility>

namespace {

// Counts how often a window is brought to the front.
class TRaiseCounter : public QObject {
public:
    explicit TRaiseCounter(QWidget* window) { window->installEventFilter(this); }
    int Count = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::ZOrderChange)
            ++Count;
        return QObject::eventFilter(watched, event);
    }
};

// Sounds queued and not yet played (while sounds are suspended, all of them).
int WaitingSounds() {
    int n = 0;
    for (const TSoundQueueItem& item : SoundPlayForm()->SoundQueue().Items())
        n += item.Pending ? 1 : 0;
    return n;
}

// A private home and installation folder, fake components, scripted prompts and sounds into a
// folder, for one main window with its sound window.
struct TDispatchFixture {
    TTestHome Home;
    QTemporaryDir Install;
    QTemporaryDir AudioOut;
    QString OldDir = QDir::currentPath();
    std::shared_ptr<TFakeComponentFactory> Factory = std::make_shared<TFakeComponentFactory>();
    TScopedComponentFactory Scope{Factory};
    std::unique_ptr<TZentrikProMainForm> Main;

    TDispatchFixture() {
        QDir::setCurrent(Install.path());
        qputenv("VELQUIST_AUDIO_OUT", AudioOut.path().toLocal8Bit());
        TUserStore::ResetInstance();
        SetSettingsKeyPath(QString::fromLatin1(DefaultSettingsKeyPath()));
        zkPrompts::SetScripted(true);
        zkPrompts::ClearScript();
        WriteStringValue(TSettingsStore::Registry(), SettingsKeyPath() + "\\Settings", "UserName",
                         "DEMO");
        Main = std::make_unique<TZentrikProMainForm>();
        // As the client does: the sound window is made by the first alert's sound.
        SetSoundPlayFormMaker([this] { return new TSoundPlayForm(Main.get()); });
        Main->show();
    }
    ~TDispatchFixture() {
        SetSoundPlayFormMaker({});
        Main.reset();
        qunsetenv("VELQUIST_AUDIO_OUT");
        QDir::setCurrent(OldDir);
        TUserStore::ResetInstance();
    }
    TAlertForm* window(const QStringList& actions) {
        TAlertForm* w = Main->NewAlertWindow();
        w->SetActions(actions);
        return w;
    }
    static TFakeZentrikWindowX& fake(TAlertForm* w) {
        return *static_cast<TFakeZentrikWindowX*>(w->ZentrikWindowX->Component());
    }
    TFakeConnector* connector(const QString& list) {
        return static_cast<TFakeConnector*>(Main->ConnectorForm->Connector(list)->Component());
    }
    QStringList queued(const QString& list) {
        Main->ConnectorForm->EnsureList(list);
        return Main->ConnectorForm->LinkList.Find(list)->PendingSymbols;
    }
    // Linked, so the connector window stays out of the way.
    void link(const QString& list) { connector(list)->FLinkCount = 1; }
};

} // namespace

class TDispatchTest : public QObject {
    Q_OBJECT
private slots:
    void defaultActionsSendOnDoubleClickOnly();
    void burstRaisesTheWindowOnce();
    void eachAlertActsOnlyOnWhatItAppended();
    void modalDialogDiscardsRaisingNotSending();
    void soundsWaitWhileSuspended();
    void muteDropsSoundsAndKeepsTheRest();
    void emphasisedAlertsSoundTheirOwnFile();
    void quietHoursSilenceTheirWindowOnly();
    void notificationActionShowsEachAlertOnce();
    void publishActionPublishesEachAlertOnceButNotTheBrokers();
    void selectionFollowsTheClickChoice();
    void recordWithAMissingActionUsesTheFirstDefault();
    void idleHookRunsByItself();
    void windowsClosedOrOpenedDuringAStep();
    void alertsWhileAWindowIsBuiltAreActedOn();
};

void TDispatchTest::defaultActionsSendOnDoubleClickOnly() {
    TDispatchFixture f;
    TAlertForm* w = f.Main->NewAlertWindow();
    QCOMPARE(w->Actions, QStringList{"2,4,MAIN LIST"});
    f.fake(w).RaiseAlertSelected("AAPL", 1);
    f.fake(w).RaiseNewAlert("MSFT");
    QVERIFY(!w->HasPendingActions);
    QVERIFY(f.queued("MAIN LIST").isEmpty());

    f.fake(w).RaiseAlertSelected("IBM", 2);
    QVERIFY(w->HasPendingActions);
    QCOMPARE(f.queued("MAIN LIST"), QStringList{"IBM"});
    QVERIFY(f.connector("MAIN LIST")->Sent.isEmpty());

    // Nobody is linked to the list: the connector window comes up on it.
    f.Main->ConnectorForm->EnsureListsForActions({"1,4,Other"});
    f.Main->ConnectorForm->ShowList("Other");
    QVERIFY(f.Main->ConnectorForm->isHidden());
    ProcessPendingActions(*f.Main);
    QCOMPARE(f.connector("MAIN LIST")->Sent, QStringList{"IBM"});
    QVERIFY(!w->HasPendingActions);
    QVERIFY(w->PendingActions.IsEmpty());
    QVERIFY(f.Main->ConnectorForm->isVisible());
    QCOMPARE(f.Main->ConnectorForm->FrontConnector()->LinkName(), QString("MAIN LIST"));
    QCOMPARE(f.Main->ConnectorForm->ListNameComboBox->currentIndex(), 0);

    // Linked: it stays hidden.
    f.Main->ConnectorForm->hide();
    f.link("MAIN LIST");
    f.fake(w).RaiseAlertSelected("T", 2);
    ProcessPendingActions(*f.Main);
    QCOMPARE(f.connector("MAIN LIST")->Sent, QStringList({"IBM", "T"}));
    QVERIFY(f.Main->ConnectorForm->isHidden());
}

void TDispatchTest::burstRaisesTheWindowOnce() {
    TDispatchFixture f;
    TAlertForm* w = f.window({"1,3"});
    TAlertForm* quiet = f.window({"2,4,MAIN LIST"});
    TRaiseCounter raised(w);
    TRaiseCounter quietRaised(quiet);
    for (int i = 0; i < 5; ++i)
        f.fake(w).RaiseNewAlert(QString("S%1").arg(i));
    // An alert to be skipped runs nothing.
    f.fake(quiet).RaiseNewAlert("SKIP", 1);
    QCOMPARE(w->PendingActions.Count(), 5);
    QCOMPARE(raised.Count, 0);
    ProcessPendingActions(*f.Main);
    QCOMPARE(raised.Count, 1);
    QVERIFY(w->PendingActions.IsEmpty());
    ProcessPendingActions(*f.Main);
    QCOMPARE(raised.Count, 1);
    f.fake(w).RaiseNewAlert("NEXT");
    f.fake(w).RaiseNewAlert("NEXT", 7);
    ProcessPendingActions(*f.Main);
    QCOMPARE(raised.Count, 2);
    QCOMPARE(quietRaised.Count, 0);

    // A minimised window comes back to the normal state.
    w->showMinimized();
    f.fake(w).RaiseNewAlert("AGAIN");
    ProcessPendingActions(*f.Main);
    QVERIFY(!w->isMinimized());
    QVERIFY(w->isVisible());
}

void TDispatchTest::eachAlertActsOnlyOnWhatItAppended() {
    TDispatchFixture f;
    f.link("Scan");
    TAlertForm* w = f.window({"1,2,setup", "1,4,Scan", "1,9,unknown kind"});
    f.fake(w).RaiseNewAlert("P");
    f.fake(w).RaiseNewAlert("Q");
    // Walking every pending entry again at Q would queue P, Q, Q.
    QCOMPARE(f.queued("Scan"), QStringList({"P", "Q"}));
    QCOMPARE(w->PendingActions.Count(), 4);
    const QList<TSoundQueueItem> items = SoundPlayForm()->SoundQueue().Items();
    QCOMPARE(items.size(), 1);
    QCOMPARE(items[0].Setup, QString("setup"));
    QVERIFY(items[0].Pending);

    f.Main->SoundsSuspended = true;
    ProcessPendingActions(*f.Main);
    QCOMPARE(f.connector("Scan")->Sent, QStringList({"P", "Q"}));
    ProcessPendingActions(*f.Main);
    QCOMPARE(f.connector("Scan")->Sent, QStringList({"P", "Q"}));

    // A burst of n alerts sends n symbols, in arrival order, in one idle step.
    QStringList burst;
    for (int i = 0; i < 50; ++i) {
        burst << QString("B%1").arg(i);
        f.fake(w).RaiseNewAlert(burst.last());
    }
    ProcessPendingActions(*f.Main);
    QCOMPARE(f.connector("Scan")->Sent, QStringList({"P", "Q"}) + burst);
}

void TDispatchTest::modalDialogDiscardsRaisingNotSending() {
    TDispatchFixture f;
    TAlertForm* w = f.window({"1,3", "1,4, "});
    TRaiseCounter raised(w);
    f.Main->ModalDialogOpen = true;
    f.fake(w).RaiseNewAlert("A");
    f.fake(w).RaiseNewAlert("B");
    f.fake(w).RaiseNewAlert("C");
    ProcessPendingActions(*f.Main);
    QCOMPARE(raised.Count, 0);
    // A blank list name is "MAIN LIST"; symbols still go out while the dialog is open, but
    // the connector window is not brought up over it.
    QCOMPARE(f.connector("MAIN LIST")->Sent, QStringList({"A", "B", "C"}));
    QVERIFY(f.Main->ConnectorForm->isHidden());
    QVERIFY(w->PendingActions.IsEmpty());
    QVERIFY(!w->HasPendingActions);

    // The discarded raise does not come back once the dialog has closed.
    f.Main->ModalDialogOpen = false;
    ProcessPendingActions(*f.Main);
    QCOMPARE(raised.Count, 0);
    QVERIFY(f.Main->ConnectorForm->isHidden());
}

void TDispatchTest::soundsWaitWhileSuspended() {
    TDispatchFixture f;
    TAlertForm* w = f.window({"1,2,<Default>"});
    f.Main->SoundsSuspended = true;
    f.fake(w).RaiseNewAlert("A");
    ProcessPendingActions(*f.Main);
    QVERIFY(SoundPlayForm()->SoundQueue().Items().at(0).Pending);
    QVERIFY(!SoundPlayForm()->Busy());
    f.Main->SoundsSuspended = false;
    ProcessPendingActions(*f.Main);
    QVERIFY(!SoundPlayForm()->SoundQueue().Items().at(0).Pending);
    QVERIFY(SoundPlayForm()->Busy());
    // "<Default>" beeps; the sound folder receives the beep.
    QTRY_VERIFY(!SoundPlayForm()->Busy());
    QCOMPARE(QDir(f.AudioOut.path()).entryList({"*.beep"}).size(), 1);
}

// An emphasised alert plays the emphasis rule's file instead of the window's sounds, as loud
// as the window's first; Mute Sounds silences it too.
void TDispatchTest::emphasisedAlertsSoundTheirOwnFile() {
    TDispatchFixture f;
    f.Main->SoundsSuspended = true;
    TSoundQueue& queue = SoundPlayForm()->SoundQueue();
    // The setups one alert leaves waiting.
    const auto played = [&](TAlertForm* w, bool emphasised) {
        queue.DropWaiting();
        TAlertData alert("AAPL", 0, QDateTime::currentDateTimeUtc());
        alert.Emphasised = emphasised;
        NewAlertActions(*w, alert);
        QStringList setups;
        for (const TSoundQueueItem& item : queue.Items())
            if (item.Pending)
                setups << item.Setup;
        setups.sort();
        return setups;
    };
    TKeepRule rule;
    rule.Kind = TKeepRuleKind::Emphasise;
    rule.List = "Hot";
    rule.Sound = "/s/own.wav";
    TAlertForm* w = f.window({"1,2,/s/window.wav,80,20", "1,2,/s/second.wav"});
    w->KeepRules.Rules = {rule};
    QCOMPARE(played(w, false), QStringList({"/s/second.wav", "/s/window.wav,80,20"}));
    QCOMPARE(played(w, true), QStringList({"/s/own.wav,80,20"}));
    // Without a sound of its own, or with the rule off, the window's sounds play.
    w->KeepRules.Rules[0].Sound.clear();
    QCOMPARE(played(w, true).size(), 2);
    w->KeepRules.Rules[0].Sound = "/s/own.wav";
    w->KeepRules.Rules[0].On = false;
    QCOMPARE(played(w, true).size(), 2);
    // A window that sounds nothing itself still sounds its emphasis.
    TAlertForm* silent = f.window({"1,3"});
    silent->KeepRules.Rules = {rule};
    QCOMPARE(played(silent, true), QStringList({"/s/own.wav,50,50"}));
    QVERIFY(played(silent, false).isEmpty());
    f.Main->SetSoundsMuted(true);
    QVERIFY(played(silent, true).isEmpty());
    f.Main->SetSoundsMuted(false);
}

void TDispatchTest::muteDropsSoundsAndKeepsTheRest() {
    TDispatchFixture f;
    f.link("Scan");
    TAlertForm* w = f.window({"1,2,<Default>", "1,3", "1,4,Scan"});
    // A sound waiting when the user mutes is dropped too.
    f.Main->SoundsSuspended = true;
    f.fake(w).RaiseNewAlert("A");
    QCOMPARE(WaitingSounds(), 1);
    f.Main->MuteSoundsMenuItem->trigger();
    QVERIFY(f.Main->SoundsAreMuted());
    QCOMPARE(WaitingSounds(), 0);
    f.Main->SoundsSuspended = false;

    // Muted: no sound is queued, not even for later; the other actions run.
    f.fake(w).RaiseNewAlert("B");
    QCOMPARE(WaitingSounds(), 0);
    ProcessPendingActions(*f.Main);
    QCOMPARE(f.connector("Scan")->Sent, QStringList({"A", "B"}));
    QVERIFY(!SoundPlayForm()->Busy());
    QVERIFY(f.Main->MuteStatusLabel->isVisibleTo(f.Main.get()));
    QCOMPARE(f.Main->MuteStatusLabel->text(), QString("Sounds muted"));
    f.Main->MuteSoundsMenuItem->trigger(); // unmuted: nothing from the muted time comes back
    QCOMPARE(WaitingSounds(), 0);
    QVERIFY(!f.Main->MuteStatusLabel->isVisibleTo(f.Main.get()));
    f.fake(w).RaiseNewAlert("C");
    QCOMPARE(WaitingSounds(), 1);

    // Kept in the per-user store, as a dword, and read by the next main window.
    const QString key = SettingsKeyPath() + "\\Settings";
    f.Main->SetSoundsMuted(true);
    QCOMPARE(ReadIntegerValue(TSettingsStore::Registry(), key, "MuteSounds", -1), 1);
    f.Main.reset();
    f.Main = std::make_unique<TZentrikProMainForm>();
    QVERIFY(f.Main->SoundsAreMuted());
    QVERIFY(f.Main->MuteSoundsMenuItem->isChecked());
    QVERIFY(f.Main->MuteSoundsMenuItem->isCheckable());
    f.Main->MuteSoundsMenuItem->trigger();
    QCOMPARE(ReadIntegerValue(TSettingsStore::Registry(), key, "MuteSounds", -1), 0);
}

void TDispatchTest::quietHoursSilenceTheirWindowOnly() {
    struct TRecorder : INotificationService {
        QStringList* Summaries;
        explicit TRecorder(QStringList* summaries) : Summaries(summaries) {}
        void Notify(const TDesktopNotification& n, std::function<void(uint32_t)> done) override {
            *Summaries << n.Summary;
            done(uint32_t(Summaries->size()));
        }
    };
    QStringList shown;
    const auto oldFactory = TAlertHub::NotificationServiceFactory;
    TAlertHub::NotificationServiceFactory = [&shown] {
        return std::make_unique<TRecorder>(&shown);
    };
    TDispatchFixture f;
    TAlertHub::NotificationServiceFactory = oldFactory;
    f.link("Scan");
    TSoundQueue& queue = SoundPlayForm()->SoundQueue();
    const QStringList actions{"1,2,<Default>", "1,5", "1,3", "1,4,Scan"};
    TAlertForm* night = f.window(actions);
    night->setWindowTitle("Night");
    TAlertForm* day = f.window(actions);
    day->setWindowTitle("Day");
    f.Main->SoundsSuspended = true; // sounds stay queued, to be counted
    night->SetQuiet(QuietNow());

    // Quiet: no sound, no notification; the alert still raises the window and is sent.
    f.fake(night).RaiseNewAlert("A");
    QCOMPARE(WaitingSounds(), 0);
    QVERIFY(shown.isEmpty());
    QVERIFY(night->HasPendingActions);
    // Another window sounds and notifies as before.
    f.fake(day).RaiseNewAlert("B");
    QCOMPARE(WaitingSounds(), 1);
    QCOMPARE(shown, QStringList{"Day"});
    ProcessPendingActions(*f.Main);
    QCOMPARE(f.connector("Scan")->Sent, QStringList({"A", "B"}));

    // Hours that have not begun yet silence nothing; the record and a copy carry them.
    queue.DropWaiting();
    night->SetQuiet(QuietLater(TAnnounceMode::Summary));
    f.fake(night).RaiseNewAlert("C");
    QCOMPARE(WaitingSounds(), 1);
    QCOMPARE(shown, QStringList({"Day", "Night"}));
    QVERIFY(night->WindowRecord().Quiet == QuietLater(TAnnounceMode::Summary));
    TAlertForm* copy = night->DuplicateWindow();
    QVERIFY(copy->Quiet == night->Quiet);
    QCOMPARE(copy->Announcer->Mode(), TAnnounceMode::Summary);
    TLayoutInfo record = night->WindowRecord();
    record.Quiet = QuietNow(TAnnounceMode::Off);
    copy->ApplyWindowRecord(record);
    QCOMPARE(copy->Announcer->Mode(), TAnnounceMode::Off);
    QVERIFY(copy->Quiet.IsQuietNow());
    delete copy;
}

void TDispatchTest::notificationActionShowsEachAlertOnce() {
    // The main window's notifications go to a recorder instead of the session bus.
    struct TRecorder : INotificationService {
        QStringList* Bodies;
        explicit TRecorder(QStringList* bodies) : Bodies(bodies) {}
        void Notify(const TDesktopNotification& n, std::function<void(uint32_t)> done) override {
            *Bodies << n.Summary + ": " + n.Body;
            done(uint32_t(Bodies->size()));
        }
    };
    QStringList bodies;
    const auto oldFactory = TAlertHub::NotificationServiceFactory;
    TAlertHub::NotificationServiceFactory = [&bodies] {
        return std::make_unique<TRecorder>(&bodies);
    };
    TDispatchFixture f;
    TAlertHub::NotificationServiceFactory = oldFactory;
    // Twice in the list is still one notification per alert; the list's other actions run.
    TAlertForm* w = f.window({"1,5", "1,3", "1,5"});
    w->setWindowTitle("Breakouts");
    TAlertForm* quiet = f.window({"1,3"});
    f.fake(w).RaiseNewAlert("NVDA");
    f.fake(quiet).RaiseNewAlert("AAPL");
    f.fake(w).RaiseNewAlert("SKIP", 1); // a skipped alert runs no action
    QCOMPARE(bodies, QStringList{"Breakouts: NVDA"});
    QVERIFY(w->HasPendingActions);
    // A window of an older client's file with only "1,5" and others: nothing else breaks.
    TAlertForm* old = f.window({"1,5,", "2,4,MAIN LIST"});
    QCOMPARE(old->ActionTable.Count(), 2);
    f.fake(old).RaiseAlertSelected("IBM", 2);
    QCOMPARE(f.queued("MAIN LIST"), QStringList{"IBM"});
}

void TDispatchTest::publishActionPublishesEachAlertOnceButNotTheBrokers() {
    struct TRecorder : IAlertPublisher {
        QStringList Published;
        void PublishAlert(const QString& window, const IAlertData& alert) override {
            Published << window + ":" + alert.AlertSymbol();
        }
    } publisher;
    TClientSandbox sandbox;
    TScopedComponentFactory scope{std::make_shared<TFakeComponentFactory>()};
    SetDefaultWindowRecord();
    CreateDefaultActionLists();
    TFakeDesk desk;
    desk.Publisher = &publisher;
    TAlertForm* w = desk.NewAlertWindow();
    w->ZentrikWindowX->SetDataConfig("WN=Breakouts&Src=inbox");
    // Twice in the list is still once an alert; the rest of the list runs.
    w->SetActions({"1,6", "1,3", "1,6", "2,4,MAIN LIST", "2,6"});
    auto& fake = TDispatchFixture::fake(w);
    fake.RaiseNewAlert("NVDA");
    fake.RaiseNewAlert("SKIP", 1);
    QCOMPARE(publisher.Published, QStringList{"Breakouts:NVDA"});
    // An alert that came from the broker is not sent back to it, its other actions still run.
    w->PendingActions.Clear();
    w->HasPendingActions = false;
    TAlertData fromBroker("AMD", 0, QDateTime::currentDateTimeUtc());
    fromBroker.Origin = TAlertSource::Broker;
    emit fake.OnNewAlert(&fromBroker);
    QCOMPARE(publisher.Published.size(), 1);
    QVERIFY(w->HasPendingActions);
    // A double-click publishes the alert picked (beside the send); a click does not.
    fake.RaiseAlertSelected("PICK", 2);
    fake.RaiseAlertSelected("CLICK", 1);
    QCOMPARE(publisher.Published, QStringList({"Breakouts:NVDA", "Breakouts:PICK"}));
    QCOMPARE(w->PendingActions.KindValue.last(), 4);
    // Without a publisher at the desk the action does nothing.
    desk.Publisher = nullptr;
    fake.RaiseNewAlert("MSFT");
    QCOMPARE(publisher.Published.size(), 2);
}

void TDispatchTest::selectionFollowsTheClickChoice() {
    TDispatchFixture f;
    f.link("Pick");
    // The choice made in the Options dialog: click, in both lists and their stores.
    DefaultWindowActions() = {"3,4,MAIN LIST"};
    LayoutDefaultActions() = DefaultWindowActions();
    SaveDefaultActionLists();
    TAlertForm* w = f.window({"1,3", "2,4,Pick", "2,4,Second"});
    f.fake(w).RaiseAlertSelected("DOUBLE", 2);
    QVERIFY(!w->HasPendingActions);
    f.fake(w).RaiseAlertSelected("CLICK", 1);
    ProcessPendingActions(*f.Main);
    QCOMPARE(f.connector("Pick")->Sent, QStringList{"CLICK"});
    QCOMPARE(f.queued("Second"), QStringList());

    // A selection row of another kind is taken but acts on nothing.
    w->SetActions({"3,3"});
    TRaiseCounter raised(w);
    f.fake(w).RaiseAlertSelected("X", 1);
    QCOMPARE(w->PendingActions.Count(), 1);
    QVERIFY(!w->HasPendingActions);
    ProcessPendingActions(*f.Main);
    QCOMPARE(raised.Count, 0);
}

void TDispatchTest::recordWithAMissingActionUsesTheFirstDefault() {
    TDispatchFixture f;
    f.link("Scan");
    f.link("MAIN LIST");
    WriteTextFile("w.zka", "[AlertWindow]\nAction0=1,4,Scan\nActionsCount=2\n");
    const QStringList actions =
        ReadActionsRecord(TSettingsStore::IniFile("w.zka"), "AlertWindow", DefaultWindowActions());
    QCOMPARE(actions, QStringList({"1,4,Scan", "2,4,MAIN LIST"}));
    TAlertForm* w = f.window(actions);
    f.fake(w).RaiseNewAlert("NEW");
    f.fake(w).RaiseAlertSelected("PICKED", 2);
    ProcessPendingActions(*f.Main);
    QCOMPARE(f.connector("Scan")->Sent, QStringList{"NEW"});
    QCOMPARE(f.connector("MAIN LIST")->Sent, QStringList{"PICKED"});
}

void TDispatchTest::idleHookRunsByItself() {
    TDispatchFixture f;
    f.link("Scan");
    TAlertForm* w = f.window({"1,4,Scan"});
    f.fake(w).RaiseNewAlert("P");
    f.fake(w).RaiseNewAlert("Q");
    QVERIFY(f.connector("Scan")->Sent.isEmpty());
    // Nothing calls the step here: the event loop running dry does.
    QEventLoop loop;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!f.connector("Scan")->Sent.isEmpty())
            loop.quit();
    });
    poll.start(5);
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    QCOMPARE(f.connector("Scan")->Sent, QStringList({"P", "Q"}));
    QVERIFY(!w->HasPendingActions);
}

void TDispatchTest::windowsClosedOrOpenedDuringAStep() {
    TDispatchFixture f;
    f.link("Scan");
    TAlertForm* a = f.window({"1,3"});
    QPointer<TAlertForm> destroyed = f.window({"1,3", "1,4,Scan"});
    QPointer<TAlertForm> closed = f.window({"1,3", "1,4,Scan"});
    TAlertForm* opened = nullptr;
    std::unique_ptr<TRaiseCounter> openedRaised;
    // Bringing a forward runs what an event loop inside an action could: one window is
    // destroyed, one closed, and a new one opens and takes an alert.
    struct TOnRaise : QObject {
        std::function<void()> Run;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::ZOrderChange && Run)
                std::exchange(Run, nullptr)();
            return false;
        }
    } onRaise;
    onRaise.Run = [&] {
        delete destroyed.data();
        closed->close();
        opened = f.window({"1,3", "1,4,Scan"});
        openedRaised = std::make_unique<TRaiseCounter>(opened);
        f.fake(opened).RaiseNewAlert("NEW");
    };
    a->installEventFilter(&onRaise);
    TRaiseCounter closedRaised(closed);
    f.fake(a).RaiseNewAlert("A");
    f.fake(destroyed).RaiseNewAlert("D");
    f.fake(closed).RaiseNewAlert("C");
    ProcessPendingActions(*f.Main);

    QVERIFY(!destroyed);
    QVERIFY(opened);
    // The closed window is not brought back, but what it queued still goes out.
    QVERIFY(closed && closed->isHidden());
    QCOMPARE(closedRaised.Count, 0);
    QCOMPARE(f.connector("Scan")->Sent, QStringList({"D", "C", "NEW"}));
    // The new window's actions ran in the same step; it ends up in front.
    QVERIFY(!opened->HasPendingActions);
    QCOMPARE(openedRaised->Count, 1);
    QCOMPARE(f.Main->AlertWindows(), (QList<TAlertForm*>{a, closed, opened}));
    QTRY_VERIFY(!closed);
    QCOMPARE(f.Main->AlertWindows(), (QList<TAlertForm*>{a, opened}));
}

void TDispatchTest::alertsWhileAWindowIsBuiltAreActedOn() {
    TDispatchFixture f;
    f.link("Scan");
    // A bad entry in the default actions: the window reports it while it is being built, and
    // alerts come into it while the report is open.
    const QStringList oldDefaults = DefaultWindowActions();
    DefaultWindowActions() = {"1,4,Scan", "x"};
    TFakeZentrikWindowX* building = nullptr;
    f.Factory->PrepareAlertWindow = [&](TFakeZentrikWindowX& c) { building = &c; };
    bool reportOpen = false;
    QTimer::singleShot(0, [&] {
        auto* report = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        reportOpen = report != nullptr;
        building->RaiseNewAlert("EARLY");
        // The idle step runs while the report waits, before the window is listed.
        ProcessPendingActions(*f.Main);
        if (report)
            report->reject();
    });
    zkPrompts::SetScripted(false);
    auto* w = new TAlertForm(f.Main.get(), f.Main.get());
    zkPrompts::SetScripted(true);
    DefaultWindowActions() = oldDefaults;
    QVERIFY(reportOpen);
    QVERIFY(f.Main->AlertWindows().contains(w));
    QVERIFY(f.connector("Scan")->Sent.isEmpty());
    ProcessPendingActions(*f.Main);
    QCOMPARE(f.connector("Scan")->Sent, QStringList{"EARLY"});
}

QTEST_MAIN(TDispatchTest)
#include "tst_dispatch.moc"
