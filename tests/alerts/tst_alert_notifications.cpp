// Desktop notifications of new alerts: the texts, one notification per window that a burst
// replaces, one call out at a time, and a click that brings the window forward with the
// alert's row selected. The notification server is a fake here; the whole-process test runs
// the real D-Bus path.
#include "alerts/zkAlertForm.h"
#include "alerts/zkAlertNotifications.h"
#include "components/zkComponentWrappers.h"
#include "desktop/zkDesktopNotifications.h"
#include "zkFakeComponents.h"
#include "zkFakeDesk.h"

#include <QtTest>

namespace {

// Records each call; answers at once with the next id (or the replaced one), or keeps the
// answers back until a test releases them.
class TFakeNotifications : public INotificationService {
public:
    struct TCall {
        TDesktopNotification Notification;
        std::function<void(uint32_t)> Done;
    };
    void Notify(const TDesktopNotification& n, std::function<void(uint32_t)> done) override {
        Calls.append(TCall{n, done});
        if (!Deferred)
            Answer(Calls.size() - 1);
    }
    void Answer(qsizetype call) {
        const TDesktopNotification& n = Calls[call].Notification;
        const uint32_t id = Failing ? 0 : n.ReplacesId != 0 ? n.ReplacesId : ++LastId;
        Calls[call].Done(id);
    }
    QStringList Bodies() const {
        QStringList bodies;
        for (const TCall& c : Calls)
            bodies << c.Notification.Body;
        return bodies;
    }
    QList<TCall> Calls;
    bool Deferred = false, Failing = false;
    uint32_t LastId = 6;
};

TAlertData Alert(const QString& symbol, double price = 0, const QString& description = {}) {
    return TAlertData(symbol, 0, QDateTime(QDate(2026, 3, 2), QTime(15, 30), Qt::UTC),
                      price, description);
}

struct TNotifierFixture {
    std::shared_ptr<TFakeComponentFactory> Factory = std::make_shared<TFakeComponentFactory>();
    TScopedComponentFactory Scope{Factory};
    TFakeDesk Desk;
    TFakeNotifications Service;
    TAlertNotifier Notifier{Service, &Desk};
    qint64 Now = 1000;

    TNotifierFixture() {
        Notifier.Clock = [this] { return Now; };
    }
    TAlertForm* window(const QString& title) {
        TAlertForm* w = Desk.NewAlertWindow();
        w->setWindowTitle(title);
        return w;
    }
    static TFakeZentrikWindowX& fake(TAlertForm* w) {
        return *static_cast<TFakeZentrikWindowX*>(w->ZentrikWindowX->Component());
    }
};

} // namespace

class TAlertNotificationsTest : public QObject {
    Q_OBJECT
private slots:
    void textsNameSymbolPriceAndDescription();
    void burstReplacesTheWindowsNotification();
    void oneCallOutAtATimeSendsTheLatest();
    void clickBringsTheWindowForwardWithTheRow();
    void closedOrFailedStartsAnew();
    void signalsBeforeTheAnswerAreTakenWithIt();
};

void TAlertNotificationsTest::textsNameSymbolPriceAndDescription() {
    QCOMPARE(TAlertNotifier::AlertText(Alert("NVDA", 912.4, "New high")),
             QString("NVDA 912.40 New high"));
    // As the list shows it: no price, no "0.00".
    QCOMPARE(TAlertNotifier::AlertText(Alert("XOM", 0, "Gap up")), QString("XOM Gap up"));
    QCOMPARE(TAlertNotifier::AlertText(Alert("XOM", 12.345)), QString("XOM 12.35"));
    QCOMPARE(TAlertNotifier::BurstText("NVDA", 11), QString("NVDA and 11 more"));
}

void TAlertNotificationsTest::burstReplacesTheWindowsNotification() {
    TNotifierFixture f;
    TAlertForm* breakouts = f.window("Breakouts");
    TAlertForm* gappers = f.window("Gappers");
    f.Notifier.AlertArrived(*breakouts, Alert("NVDA", 912.4, "New high"));
    QCOMPARE(f.Service.Calls.size(), 1);
    const TDesktopNotification first = f.Service.Calls[0].Notification;
    QCOMPARE(first.Summary, QString("Breakouts"));
    QCOMPARE(first.Body, QString("NVDA 912.40 New high"));
    QCOMPARE(first.ReplacesId, 0u);

    // Each within 2 s of the one before: the same notification, counting.
    f.Now += 500;
    f.Notifier.AlertArrived(*breakouts, Alert("AAPL", 187.2));
    f.Now += 1900;
    f.Notifier.AlertArrived(*breakouts, Alert("MSFT"));
    // Another window's alert meanwhile is its own notification.
    f.Notifier.AlertArrived(*gappers, Alert("AMD"));
    QCOMPARE(f.Service.Bodies(),
             QStringList({"NVDA 912.40 New high", "AAPL and 1 more", "MSFT and 2 more", "AMD"}));
    QCOMPARE(f.Service.Calls[1].Notification.ReplacesId, 7u);
    QCOMPARE(f.Service.Calls[2].Notification.ReplacesId, 7u);
    QCOMPARE(f.Service.Calls[3].Notification.ReplacesId, 0u);
    QCOMPARE(f.Service.Calls[3].Notification.Summary, QString("Gappers"));

    // More than 2 s after the last: a notification of its own again.
    f.Now += 2001;
    f.Notifier.AlertArrived(*breakouts, Alert("TSLA"));
    QCOMPARE(f.Service.Calls.last().Notification.Body, QString("TSLA"));
    QCOMPARE(f.Service.Calls.last().Notification.ReplacesId, 0u);
}

void TAlertNotificationsTest::oneCallOutAtATimeSendsTheLatest() {
    TNotifierFixture f;
    TAlertForm* w = f.window("Breakouts");
    f.Service.Deferred = true;
    f.Notifier.AlertArrived(*w, Alert("A"));
    f.Notifier.AlertArrived(*w, Alert("B"));
    f.Notifier.AlertArrived(*w, Alert("C"));
    // Without the first answer there is no id to replace: nothing more goes out yet.
    QCOMPARE(f.Service.Calls.size(), 1);
    f.Service.Answer(0);
    QCOMPARE(f.Service.Calls.size(), 2);
    QCOMPARE(f.Service.Calls[1].Notification.Body, QString("C and 2 more"));
    QCOMPARE(f.Service.Calls[1].Notification.ReplacesId, 7u);
    f.Service.Answer(1);
    QCOMPARE(f.Service.Calls.size(), 2);
}

void TAlertNotificationsTest::clickBringsTheWindowForwardWithTheRow() {
    TNotifierFixture f;
    TAlertForm* w = f.window("Breakouts");
    TAlertForm* other = f.window("Gappers");
    f.Notifier.AlertArrived(*w, Alert("NVDA"));
    f.Now += 100;
    f.Notifier.AlertArrived(*w, Alert("AMD"));
    f.Now += 5000;
    f.Notifier.AlertArrived(*w, Alert("TSLA")); // a second notification, id 8
    f.Notifier.AlertArrived(*other, Alert("XOM")); // id 9

    // The older one still names its own latest alert.
    f.Service.OnActivated(7);
    QCOMPARE(f.Desk.Forward, QList<QWidget*>{w});
    QCOMPARE(f.fake(w).FSelectedAlerts, QStringList{"AMD"});
    f.Service.OnActivated(8);
    QCOMPARE(f.fake(w).FSelectedAlerts, QStringList({"AMD", "TSLA"}));
    QVERIFY(f.fake(other).FSelectedAlerts.isEmpty());

    // Someone else's notification, or one whose window was closed: nothing happens.
    f.Service.OnActivated(1234);
    delete other;
    f.Service.OnActivated(9);
    QCOMPARE(f.Desk.Forward.size(), 2);
}

void TAlertNotificationsTest::closedOrFailedStartsAnew() {
    TNotifierFixture f;
    TAlertForm* w = f.window("Breakouts");
    f.Notifier.AlertArrived(*w, Alert("A"));
    f.Service.OnClosed(7);
    f.Now += 100;
    // Dismissed by the user: the next alert is news, not "and 1 more" of a gone notification.
    f.Notifier.AlertArrived(*w, Alert("B"));
    QCOMPARE(f.Service.Calls.last().Notification.Body, QString("B"));
    QCOMPARE(f.Service.Calls.last().Notification.ReplacesId, 0u);
    f.Service.OnClosed(8);
    f.Service.OnActivated(8); // forgotten once closed
    QVERIFY(f.Desk.Forward.isEmpty());

    // No server: each alert is one attempt, never a loop of retries.
    f.Service.Failing = true;
    const qsizetype before = f.Service.Calls.size();
    f.Notifier.AlertArrived(*w, Alert("C"));
    f.Now += 100;
    f.Notifier.AlertArrived(*w, Alert("D"));
    QCOMPARE(f.Service.Calls.size(), before + 2);
    QCOMPARE(f.Service.Calls.last().Notification.ReplacesId, 0u);
    QCOMPARE(f.Service.Calls.last().Notification.Body, QString("D"));
}

// A slow server shows a notification, and reports a click on it or its end, before its answer
// tells us the id.
void TAlertNotificationsTest::signalsBeforeTheAnswerAreTakenWithIt() {
    TNotifierFixture f;
    TAlertForm* w = f.window("Breakouts");
    TAlertForm* other = f.window("Energy");
    f.Service.Deferred = true;
    f.Notifier.AlertArrived(*w, Alert("NVDA"));
    f.Service.OnActivated(7);
    f.Service.OnActivated(1234); // someone else's
    QVERIFY(f.Desk.Forward.isEmpty());
    f.Service.Answer(0); // id 7
    QCOMPARE(f.Desk.Forward, QList<QWidget*>{w});
    QCOMPARE(f.fake(w).FSelectedAlerts, QStringList{"NVDA"});

    f.Notifier.AlertArrived(*other, Alert("XOM"));
    f.Service.OnClosed(8);
    f.Service.Answer(1); // id 8, gone already
    f.Now += 100;
    // The next alert is news, not a replacement of a notification no longer there.
    f.Notifier.AlertArrived(*other, Alert("AMD"));
    QCOMPARE(f.Service.Calls.size(), 3);
    QCOMPARE(f.Service.Calls.last().Notification.Body, QString("AMD"));
    QCOMPARE(f.Service.Calls.last().Notification.ReplacesId, 0u);
    f.Service.Answer(2); // id 9
    f.Service.OnActivated(1234);
    QCOMPARE(f.Desk.Forward.size(), 1);
}

QTEST_MAIN(TAlertNotificationsTest)
#include "tst_alert_notifications.moc"
