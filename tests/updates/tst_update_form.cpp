// The update check: the schedule's 30-second windows, the request flags, and what the answer of
// the update address leads to (a question, a message, a page opened, or nothing).
#include "config/zkConfig.h"
#include "config/zkSettings.h"
#include "platform/zkApplication.h"
#include "platform/zkPrompts.h"
#include "platform/zkSecondTick.h"
#include "platform/zkShell.h"
#include "updates/zkUpdateCheck.h"
#include "updates/zkUpdateForm.h"
#include "zkFakeComponents.h"
#include "zkTestSupport.h"

#include <QtTest>

namespace {

const QString NewerText = QStringLiteral("A new version of the application is available online.\n"
                                         "Do you want to go on the site and download it now?");
const QString CurrentText =
    QStringLiteral("You have the most recent version of the software.\nUpdate is not required.");

struct TUpdateFixture {
    TClientSandbox Sandbox;
    std::shared_ptr<TFakeComponentFactory> Factory = std::make_shared<TFakeComponentFactory>();
    TScopedComponentFactory Scope{Factory};
    QDateTime Now = QDateTime(QDate(2026, 4, 15), QTime(12, 0), Qt::UTC);
    QTimeZone Zone = QTimeZone::utc();
    std::unique_ptr<TUpdateForm> Form;

    explicit TUpdateFixture(const TUpdateSchedule& schedule = TUpdateSchedule()) {
        ConfigInfo().CheckUpdateURL = QStringLiteral("https://updates.example/build.txt");
        ConfigInfo().BuildVersion = QStringLiteral("1250");
        WriteUpdateSchedule(TSettingsStore::Registry(), TUpdateForm::ScheduleKey(), schedule);
        TUpdateForm::Clock = [this] { return Now; };
        TUpdateForm::Zone = [this] { return Zone; };
        Form = std::make_unique<TUpdateForm>(nullptr);
    }
    ~TUpdateFixture() {
        Form.reset();
        TUpdateForm::Clock = [] { return QDateTime::currentDateTimeUtc(); };
        TUpdateForm::Zone = [] { return QTimeZone::systemTimeZone(); };
    }
    TFakeNetRequestX* net() const { return Factory->NetRequests.last(); }
    int sent() const { return int(net()->Requests.size()); }
    QStringList prompts() const {
        QStringList texts;
        for (const zkPrompts::TPromptRecord& r : zkPrompts::Shown())
            texts << r.Text;
        return texts;
    }
    // Local wall time in the fixture's zone.
    void setLocal(const QDate& date, const QTime& time) {
        Now = QDateTime(date, time, Zone).toUTC();
    }
};

TUpdateSchedule Timed(uint8_t kind, const QTime& at, int32_t day = 1, int32_t weekday = 1) {
    TUpdateSchedule s;
    s.UpdateAtStartup = false;
    s.UpdateSchedule = kind;
    s.UpdateTime = DateTimeOnDay1000(at.msecsSinceStartOfDay());
    s.UpdateDayNumber = day;
    s.UpdateDayOfWeek = weekday;
    return s;
}

} // namespace

class TUpdateFormTest : public QObject {
    Q_OBJECT
private slots:
    void windowOfThirtySeconds_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QTime>("at");
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QTime>("tick");
        QTest::addColumn<bool>("due");
        const QDate wednesday(2026, 4, 15);
        const QTime late(23, 59, 45);
        const QTime noon(12, 0);
        QTest::newRow("daily: at the time itself") << 2 << noon << wednesday << noon << false;
        QTest::newRow("daily: 1 ms after") << 2 << noon << wednesday << noon.addMSecs(1) << true;
        QTest::newRow("daily: 29.999 s after")
            << 2 << noon << wednesday << noon.addMSecs(29999) << true;
        QTest::newRow("daily: 30 s after") << 2 << noon << wednesday << noon.addSecs(30) << false;
        QTest::newRow("daily: last seconds of the day")
            << 2 << late << wednesday << QTime(23, 59, 50) << true;
        QTest::newRow("daily: after midnight")
            << 2 << late << wednesday.addDays(1) << QTime(0, 0, 5) << false;
        QTest::newRow("weekly: Wednesday") << 3 << noon << wednesday << noon.addSecs(5) << true;
        QTest::newRow("weekly: Thursday")
            << 3 << noon << wednesday.addDays(1) << noon.addSecs(5) << false;
        QTest::newRow("monthly: the 15th") << 4 << noon << wednesday << noon.addSecs(5) << true;
        QTest::newRow("monthly: the 16th")
            << 4 << noon << wednesday.addDays(1) << noon.addSecs(5) << false;
    }
    void windowOfThirtySeconds() {
        QFETCH(int, kind);
        QFETCH(QTime, at);
        QFETCH(QDate, date);
        QFETCH(QTime, tick);
        QFETCH(bool, due);
        // Wednesday is weekday 3 of 1 Monday .. 7 Sunday.
        TUpdateFixture f(Timed(uint8_t(kind), at, 15, 3));
        f.setLocal(date, tick);
        f.Form->UpdateTimerTimer();
        QCOMPARE(f.sent(), due ? 1 : 0);
        QCOMPARE(f.Form->RequestInFlight, due);
    }

    // The schedule's timer rides on the clock's second: it checks once in each 30-second span,
    // at the first second of the span, however many seconds come in between.
    void theTimerChecksOnceEachHalfMinute() {
        const QDate wednesday(2026, 4, 15);
        TUpdateFixture f(Timed(2, QTime(12, 0, 25)));
        f.setLocal(wednesday, QTime(12, 0, 29)); // due, but the span the form began in
        emit TSecondTick::Instance().Second();
        QCOMPARE(f.sent(), 0);
        f.setLocal(wednesday, QTime(12, 0, 30, 2));
        emit TSecondTick::Instance().Second();
        QCOMPARE(f.sent(), 1);
        // Answered: a second check in the same span would ask again.
        f.Form->NetRequestXResult(QStringLiteral("1250"));
        QVERIFY(!f.Form->RequestInFlight);
        f.setLocal(wednesday, QTime(12, 0, 31));
        emit TSecondTick::Instance().Second();
        f.setLocal(wednesday, QTime(12, 0, 59, 999));
        emit TSecondTick::Instance().Second();
        QCOMPARE(f.sent(), 1);
    }

    void day31NeverComesInAShortMonth() {
        TUpdateFixture f(Timed(4, QTime(8, 0), 31));
        for (QDate d(2026, 4, 1); d.month() == 4; d = d.addDays(1)) {
            f.setLocal(d, QTime(8, 0, 10));
            f.Form->UpdateTimerTimer();
        }
        QCOMPARE(f.sent(), 0);
        f.setLocal(QDate(2026, 5, 31), QTime(8, 0, 10));
        f.Form->UpdateTimerTimer();
        QCOMPARE(f.sent(), 1);
    }

    void newYorkMidnightInZonesEastAndWest_data() {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QTime>("start");
        QTest::newRow("Eastern Standard")
            << QByteArray("America/New_York") << QDate(2026, 1, 14) << QTime(0, 0);
        QTest::newRow("Eastern Daylight")
            << QByteArray("America/New_York") << QDate(2026, 7, 14) << QTime(1, 0);
        QTest::newRow("Central European")
            << QByteArray("Europe/Berlin") << QDate(2026, 1, 14) << QTime(6, 0);
        QTest::newRow("Pacific Standard")
            << QByteArray("America/Los_Angeles") << QDate(2026, 1, 14) << QTime(21, 0);
    }
    void newYorkMidnightInZonesEastAndWest() {
        QFETCH(QByteArray, zone);
        QFETCH(QDate, date);
        QFETCH(QTime, start);
        TUpdateFixture f(Timed(1, QTime(0, 0)));
        f.Zone = QTimeZone(zone);
        QVERIFY(f.Zone.isValid());
        f.setLocal(date, start.addSecs(-1));
        f.Form->UpdateTimerTimer();
        QCOMPARE(f.sent(), 0);
        f.setLocal(date, start.addSecs(20));
        f.Form->UpdateTimerTimer();
        QCOMPARE(f.sent(), 1);
        QCOMPARE(NewYorkMidnightMs(TUpdateForm::LocalUtcOffset()), start.msecsSinceStartOfDay());
    }

    void startupCheck() {
        // At start-up with the flag: at once, whatever the time.
        {
            TUpdateFixture f;
            f.Form->CheckSchedule(true);
            QCOMPARE(f.sent(), 1);
        }
        // Without it, the start-up call is one more tick.
        {
            TUpdateFixture f(Timed(2, QTime(9, 0)));
            f.setLocal(QDate(2026, 4, 15), QTime(10, 0));
            f.Form->CheckSchedule(true);
            QCOMPARE(f.sent(), 0);
            f.setLocal(QDate(2026, 4, 15), QTime(9, 0, 10));
            f.Form->CheckSchedule(true);
            QCOMPARE(f.sent(), 1);
        }
    }

    void flagsInFlightDeclinedAndManual() {
        TUpdateFixture f(Timed(2, QTime(9, 0)));
        f.setLocal(QDate(2026, 4, 15), QTime(9, 0, 10));
        f.Form->UpdateTimerTimer();
        QCOMPARE(f.sent(), 1);
        // In flight: neither a tick nor "Check Now" sends again, but the answer now counts
        // as asked for.
        f.Form->UpdateTimerTimer();
        f.Form->RequestUpdateInfo(true);
        QCOMPARE(f.sent(), 1);
        SetApplicationTitle(QStringLiteral("Velquist"));
        f.net()->RaiseResult(QStringLiteral("1250\r\nhttps://www.velquist.example/get"));
        QCOMPARE(f.prompts(), QStringList{CurrentText});
        QVERIFY(!f.Form->RequestInFlight);
        // Titled with the application title, as every other message (not the program's name).
        QCOMPARE(zkPrompts::Shown().last().Caption, QString("Velquist"));

        // A newer build declined: ticks stop, "Check Now" goes on.
        zkPrompts::ClearScript();
        f.Form->RequestUpdateInfo(false);
        zkPrompts::SetNextAnswer(zkPrompts::TAnswer::No);
        f.net()->RaiseResult(QStringLiteral("1251\nhttps://www.velquist.example/get"));
        QCOMPARE(f.prompts(), QStringList{NewerText});
        QVERIFY(f.Form->UpdateDeclined);
        QVERIFY(zkShell::Opened().isEmpty());
        f.Form->UpdateTimerTimer();
        QCOMPARE(f.sent(), 2);
        f.Form->RequestUpdateInfo(true);
        QCOMPARE(f.sent(), 3);
        zkPrompts::SetNextAnswer(zkPrompts::TAnswer::Yes);
        f.net()->RaiseResult(QStringLiteral("1251\nhttps://www.velquist.example/get"));
        QCOMPARE(zkShell::Opened(), QStringList{"https://www.velquist.example/get"});
    }

    void noAddressOrAFailedSendStopsFurtherChecks() {
        TUpdateFixture f;
        f.net()->FailSend = true;
        f.Form->RequestUpdateInfo(true); // swallowed
        QVERIFY(f.Form->RequestInFlight);
        f.net()->FailSend = false;
        f.Form->RequestUpdateInfo(true);
        QCOMPARE(f.sent(), 0);

        TUpdateFixture g;
        ConfigInfo().CheckUpdateURL.clear();
        g.Form->RequestUpdateInfo(true);
        QVERIFY(g.Form->RequestInFlight);
        QCOMPARE(g.sent(), 0);
    }

    // The net request reads file: addresses too; the update address is a web address only.
    void onlyWebAddressesAreAsked() {
        for (const char* address : {"file:///etc/passwd", "ftp://updates.example/build.txt",
                                    "https:no-host", "/tmp/build.txt"}) {
            TUpdateFixture f;
            ConfigInfo().CheckUpdateURL = QString::fromLatin1(address);
            f.Form->RequestUpdateInfo(true);
            QVERIFY2(f.sent() == 0, address);
        }
        TUpdateFixture g;
        ConfigInfo().CheckUpdateURL = QStringLiteral("HTTP://updates.example/build.txt");
        g.Form->RequestUpdateInfo(true);
        QCOMPARE(g.sent(), 1);
    }

    void answers_data() {
        QTest::addColumn<QString>("response");
        QTest::addColumn<bool>("newer");
        const QString page = QStringLiteral("https://www.velquist.example/download");
        QTest::newRow("CR LF, newer") << "1251\r\n" + page + "\r\n" << true;
        QTest::newRow("hexadecimal, newer") << "  $4E3 \n " + page << true;
        QTest::newRow("plain http") << "1251\nhttp://velquist.example/" << true;
        QTest::newRow("equal") << "1250\r\n" + page << false;
        QTest::newRow("older") << "1249\r\n" + page << false;
        QTest::newRow("no line feed") << "1251" << false;
        QTest::newRow("empty page") << "1251\n \r\n\t" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("first line overflows 32 bits") << "4294967297\n" + page << false;
        QTest::newRow("not a number") << "build 1251\n" + page << false;
        QTest::newRow("binary") << QString::fromLatin1("\x7f\x45\x4c\x46\x02\x01\n\xff\xfe", 10)
                                << false;
        QTest::newRow("file page") << "1251\nfile:///etc/passwd" << false;
        QTest::newRow("bare path") << "1251\n/etc/passwd" << false;
        QTest::newRow("script") << "1251\njavascript:alert(1)" << false;
        QTest::newRow("no host") << "1251\nhttp:///etc/passwd" << false;
        QTest::newRow("page on two lines")
            << "1251\nhttps://a.example/\nfile:///etc/passwd" << false;
        QTest::newRow("ten megabytes")
            << "1251\n" + QString(10 * 1024 * 1024, QLatin1Char('a')) << false;
    }
    void answers() {
        QFETCH(QString, response);
        QFETCH(bool, newer);
        TUpdateFixture f;
        f.Form->RequestUpdateInfo(true);
        zkPrompts::SetNextAnswer(zkPrompts::TAnswer::Yes);
        f.net()->RaiseResult(response);
        QCOMPARE(f.prompts(), QStringList{newer ? NewerText : CurrentText});
        QCOMPARE(zkShell::Opened().size(), newer ? 1 : 0);
        if (newer)
            QCOMPARE(zkShell::Opened().first(), ParseUpdateResponse(response).Page);
        QVERIFY(!f.Form->RequestInFlight);
    }
};

QTEST_MAIN(TUpdateFormTest)
#include "tst_update_form.moc"
