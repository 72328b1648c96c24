// The alert hub with its real parts: closing loses nothing a source had taken (the broker hands
// over before the router closes), and the inbox's window choices reach the router, at start and
// when applied.
#include "broker/zkAlertBroker.h"
#include "components/zkComponentWrappers.h"
#include "config/zkBrokerSettings.h"
#include "config/zkInboxSettings.h"
#include "config/zkSettings.h"
#include "config/zkWindowRecord.h"
#include "history/zkHistoryStore.h"
#include "hub/zkAlertHub.h"
#include "hub/zkAlertRouter.h"
#include "zkFakeComponents.h"
#include "zkFakeDesk.h"
#include "zkMosquitto.h"
#include "zkTestSupport.h"

#include <QDeadlineTimer>
#include <QThread>
#include <QtTest>

namespace {

struct TFixture {
    TClientSandbox Sandbox;
    std::shared_ptr<TFakeComponentFactory> Factory = std::make_shared<TFakeComponentFactory>();
    TScopedComponentFactory Scope{Factory};
    TFakeDesk Desk;
    std::unique_ptr<TAlertHub> Hub;

    TFixture() {
        SetDefaultWindowRecord();
        CreateDefaultActionLists();
    }
    ~TFixture() { Hub.reset(); }
    // As the client starts it, with the stored settings.
    void start() {
        Hub = std::make_unique<TAlertHub>(Desk);
        Hub->StartRecorder(THistoryStore::DefaultPath());
        Desk.Log = Hub->AlertLog();
        Hub->StartSources();
    }
    TAlertForm* window(const QString& dataConfig) {
        TAlertForm* w = Desk.NewAlertWindow();
        w->ZentrikWindowX->SetDataConfig(dataConfig);
        return w;
    }
    // How many of these alerts the router took for no window.
    qsizetype unrouted(const QString& strategy) {
        TSourceAlert alert;
        alert.Symbol = QStringLiteral("X");
        alert.Strategy = strategy;
        const IAlertSink::TAnswer answer = Hub->Router()->OfferAlerts({alert});
        [&] { QCOMPARE(answer.Offer, IAlertSink::TOffer::Accepted); }();
        return answer.Unrouted;
    }
};

QStringList Symbols(TAlertForm* w) {
    QStringList list;
    for (const TAlertData& a :
         static_cast<TFakeZentrikWindowX*>(w->ZentrikWindowX->Component())->FExternalAlerts)
        list << a.Symbol;
    return list;
}

} // namespace

class TAlertHubTest : public QObject {
    Q_OBJECT
private slots:
    void closingDeliversWhatTheBrokerTook() {
        TMosquitto mosquitto;
        QVERIFY2(mosquitto.isRunning(), qPrintable(mosquitto.problem()));
        TFixture f;
        const TBrokerSettings settings = mosquitto.DeskSettings(
            QStringLiteral("velquist-hub%1").arg(QCoreApplication::applicationPid()));
        WriteBrokerSettings(TSettingsStore::Registry(), settings);
        TAlertForm* scan = f.window(QStringLiteral("WN=Scan&Src=inbox"));
        f.start();
        QTRY_COMPARE_WITH_TIMEOUT(f.Hub->Broker()->State().Phase, TBrokerState::TPhase::Connected,
                                  10000);
        QTRY_VERIFY_WITH_TIMEOUT(
            mosquitto.log().contains("Sending SUBACK to " + settings.ClientId.toLatin1()), 10000);

        // Taken by the broker's connection, not yet handed to the router (this thread runs no
        // events meanwhile), when the client closes.
        for (const char* symbol : {"A", "B", "C"})
            QVERIFY(mosquitto.publish("velquist/alerts/Scan",
                                      R"({"symbol": ")" + QByteArray(symbol) + R"("})"));
        QDeadlineTimer sent(10000);
        while (mosquitto.log().count("Sending PUBLISH to " + settings.ClientId.toLatin1()) < 3 &&
               !sent.hasExpired())
            QThread::msleep(20);
        QThread::msleep(300);
        QVERIFY(Symbols(scan).isEmpty());
        f.Hub->Close();
        QCOMPARE(Symbols(scan), QStringList({"A", "B", "C"}));
        // Later offers are refused as the client closing, not lost.
        QCOMPARE(f.Hub->Router()->OfferAlerts({TSourceAlert()}).Offer, IAlertSink::TOffer::Closing);
    }

    void inboxWindowChoicesReachTheRouter() {
        TFixture f;
        TInboxSettings settings;
        settings.OpenNewWindows = false;
        WriteInboxSettings(TSettingsStore::Registry(), settings);
        f.start();
        // Stored: no window opens for a new strategy, the history alone keeps it.
        QCOMPARE(f.unrouted(QStringLiteral("Fresh")), 1);
        settings.OpenNewWindows = true;
        QVERIFY(f.Hub->ApplyInboxSettings(settings));
        QCOMPARE(f.unrouted(QStringLiteral("Fresh")), 0);
        QTRY_COMPARE(f.Desk.NewWindows, 1);
        // None of new strategies per minute: they go to the catch-all window, opened once.
        settings.MaxNewWindowsPerMinute = 0;
        QVERIFY(f.Hub->ApplyInboxSettings(settings));
        QCOMPARE(f.unrouted(QStringLiteral("Other")), 0);
        QTRY_COMPARE(f.Desk.NewWindows, 2);
        QCOMPARE(f.Desk.AlertWindows().last()->ZentrikWindowX->WindowName(), QString("*"));
    }

    // Secrets a locked keyring held back are retried only while a source waits for one: an
    // idle desk has no timer ticking for nothing.
    void lockedSecretsAreRetriedOnlyWhileASourceWaits() {
        TFixture f;
        f.start();
        auto* retry = f.Hub->findChild<QTimer*>(QStringLiteral("LockedSecretsTimer"));
        QVERIFY(retry);
        QVERIFY(!retry->isActive());
        TInboxSettings settings;
        settings.Enabled = true;
        settings.Port = FreePort();
        settings.TokenProblem = QStringLiteral("the keyring is locked");
        f.Hub->ApplyInboxSettings(settings);
        QVERIFY(retry->isActive());
        settings.Token = QStringLiteral("0123456789abcdef0123456789abcdef");
        settings.TokenProblem.clear();
        f.Hub->ApplyInboxSettings(settings);
        QVERIFY(!retry->isActive());
    }
};

QTEST_MAIN(TAlertHubTest)
#include "tst_alert_hub.moc"
