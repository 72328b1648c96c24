// A window's quiet hours and screen-reader announcements: the wall-time range (across midnight,
// off when start and end are the same, the end minute no longer quiet), the stored keys (old and
// foreign files, values that are no setting), the summary's count and gap on an injected clock,
// each window announced by its own mode, and the page that edits both by keyboard.
#include "alerts/zkAlertAnnouncer.h"
#include "alerts/zkQuietHoursTab.h"
#include "components/zkComponents.h"
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "config/zkWindowRecord.h"
#include "zkTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QTimeEdit>
#include <QtTest>

#include <functional>

namespace {

TAlertData Alert(const QString& symbol) {
    return TAlertData(symbol, 0, QDateTime::currentDateTimeUtc(), 0, QString());
}

TQuietSettings Hours(int from, int to, TAnnounceMode mode = TAnnounceMode::Each) {
    TQuietSettings q;
    q.From = int16_t(from);
    q.To = int16_t(to);
    q.Announce = mode;
    return q;
}

} // namespace

class TQuietHoursTest : public QObject {
    Q_OBJECT
    qint64 Now = 1000000;
    std::function<qint64()> OldClock;

private slots:
    void init() {
        SetDefaultWindowRecord();
        OldClock = TAlertAnnouncer::Clock();
        TAlertAnnouncer::Clock() = [this] { return Now; };
    }
    void cleanup() {
        TAlertAnnouncer::Clock() = OldClock;
        SetDefaultWindowRecord();
    }

    void quietHoursCoverTheirRangeOnly_data();
    void quietHoursCoverTheirRangeOnly();
    void storedTextsAreReadStrictly();
    void recordsKeepTheirOwnSettings();
    void perUserStoreDropsKeysSetBack();
    void summaryCountsAndKeepsItsGap();
    void eachWindowIsAnnouncedByItsMode();
    void pageEditsBothByKeyboard();
};

void TQuietHoursTest::quietHoursCoverTheirRangeOnly_data() {
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<QTime>("at");
    QTest::addColumn<bool>("quiet");
    const int nine = 9 * 60, half9 = 9 * 60 + 30, five = 17 * 60, eight = 20 * 60;
    QTest::newRow("day, before") << nine << five << QTime(8, 59, 59, 999) << false;
    QTest::newRow("day, first minute") << nine << five << QTime(9, 0) << true;
    QTest::newRow("day, end of last minute") << nine << five << QTime(16, 59, 59, 999) << true;
    QTest::newRow("day, end minute") << nine << five << QTime(17, 0) << false;
    QTest::newRow("night, start") << eight << half9 << QTime(20, 0) << true;
    QTest::newRow("night, before midnight") << eight << half9 << QTime(23, 59, 59) << true;
    QTest::newRow("night, midnight") << eight << half9 << QTime(0, 0) << true;
    QTest::newRow("night, last moment") << eight << half9 << QTime(9, 29, 59, 999) << true;
    QTest::newRow("night, end minute") << eight << half9 << QTime(9, 30) << false;
    QTest::newRow("night, noon") << eight << half9 << QTime(12, 0) << false;
    QTest::newRow("night, just before") << eight << half9 << QTime(19, 59, 59) << false;
    QTest::newRow("same, at it") << eight << eight << QTime(20, 0) << false;
    QTest::newRow("same, midnight") << 0 << 0 << QTime(0, 0) << false;
    QTest::newRow("whole day but a minute") << 0 << 1439 << QTime(23, 59, 30) << false;
    QTest::newRow("the last minute alone") << 1439 << 0 << QTime(23, 59, 30) << true;
    QTest::newRow("the last minute, midnight") << 1439 << 0 << QTime(0, 0) << false;
}

void TQuietHoursTest::quietHoursCoverTheirRangeOnly() {
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(QTime, at);
    QFETCH(bool, quiet);
    QCOMPARE(Hours(from, to).IsQuietAt(at), quiet);
}

void TQuietHoursTest::storedTextsAreReadStrictly() {
    int16_t m = -1;
    QVERIFY(ParseQuietTime(QStringLiteral("09:30"), m) && m == 570);
    QVERIFY(ParseQuietTime(QStringLiteral("9:30"), m) && m == 570);
    QVERIFY(ParseQuietTime(QStringLiteral("23:59"), m) && m == 1439);
    QVERIFY(ParseQuietTime(QStringLiteral("00:00"), m) && m == 0);
    m = 7;
    for (const char* bad : {"24:00", "12:60", "-1:30", "+9:30", "9:5", "930", "09:30:00", "",
                            "ab:cd", " 9:30x", "1:2:3", "１２:００"})
        QVERIFY2(!ParseQuietTime(QString::fromUtf8(bad), m) && m == 7, bad);
    QCOMPARE(QuietTimeText(570), QStringLiteral("09:30"));
    QCOMPARE(QuietTimeText(0), QStringLiteral("00:00"));

    TAnnounceMode mode = TAnnounceMode::Each;
    QVERIFY(ParseAnnounceMode(QStringLiteral("summary"), mode) && mode == TAnnounceMode::Summary);
    QVERIFY(ParseAnnounceMode(QStringLiteral("OFF"), mode) && mode == TAnnounceMode::Off);
    QVERIFY(!ParseAnnounceMode(QStringLiteral("Loud"), mode) && mode == TAnnounceMode::Off);
    QVERIFY(!ParseAnnounceMode(QStringLiteral("1"), mode));
}

void TQuietHoursTest::recordsKeepTheirOwnSettings() {
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/w.zka");
    const QString section = AlertWindowSectionName();
    const TSettingsStore file = TSettingsStore::IniFile(path);

    // Written and read back; only the keys that differ from the built-in setting are written.
    TLayoutInfo r = DefaultWindowRecord();
    r.Quiet = Hours(20 * 60, 9 * 60 + 30, TAnnounceMode::Summary);
    WriteWindowRecord(file, section, r, false);
    QByteArray text = ReadWholeFile(path);
    QVERIFY2(text.endsWith("QuietFrom=20:00\nQuietTo=09:30\nAnnounce=Summary\n"), text.data());
    TLayoutInfo back;
    ReadWindowRecord(file, section, back);
    QVERIFY(back == r);
    r.Quiet = Hours(0, 0, TAnnounceMode::Off);
    EraseSection(file, section);
    WriteWindowRecord(file, section, r, false);
    text = ReadWholeFile(path);
    QVERIFY(!text.contains("Quiet") && text.contains("Announce=Off\n"));
    ReadWindowRecord(file, section, back);
    QVERIFY(back == r);

    // A file of an earlier version has none: no quiet hours, each alert said, also where the
    // default window has other settings (they are for new windows).
    DefaultWindowRecord().Quiet = Hours(60, 120, TAnnounceMode::Off);
    WriteTextFile(path, "[AlertWindow]\nWidth=500\n");
    ReadWindowRecord(file, section, back);
    QCOMPARE(back.Width, 500);
    QVERIFY(back.Quiet == TQuietSettings());
    SetDefaultWindowRecord();

    // Values that are no setting read as none; a good time never pairs with the built-in one.
    WriteTextFile(path, "[AlertWindow]\nQuietFrom=20:00\nQuietTo=25:00\nAnnounce=Loud\n");
    ReadWindowRecord(file, section, back);
    QVERIFY(back.Quiet == TQuietSettings());
    WriteTextFile(path, "[AlertWindow]\nQuietFrom=20:00\n");
    ReadWindowRecord(file, section, back);
    QVERIFY(!back.Quiet.HasQuietHours());

    // Keys the reader does not know (a later version's, or these in an earlier version) leave
    // the rest of the record as it was.
    WriteTextFile(path, "[AlertWindow]\nWidth=480\nDataConfig=WN=Gappers\n");
    TLayoutInfo plain;
    ReadWindowRecord(file, section, plain);
    WriteTextFile(path, "[AlertWindow]\nQuietFrom=22:00\nWidth=480\nRules=3\nQuietTo=07:00\n"
                        "DataConfig=WN=Gappers\nAnnounce=Summary\nFutureKey=x,y\n");
    ReadWindowRecord(file, section, back);
    QVERIFY(back.Quiet == Hours(22 * 60, 7 * 60, TAnnounceMode::Summary));
    back.Quiet = TQuietSettings();
    QVERIFY(back == plain);
}

void TQuietHoursTest::perUserStoreDropsKeysSetBack() {
    TTestHome home;
    TUserStore::ResetInstance();
    const TSettingsStore store = TSettingsStore::Registry();
    const QString key = QStringLiteral("\\Software\\Velquist Client\\Settings\\Layout\\W0");
    TLayoutInfo r = DefaultWindowRecord();
    r.Quiet = Hours(23 * 60, 6 * 60, TAnnounceMode::Off);
    WriteWindowRecord(store, key, r, true);
    TLayoutInfo back;
    ReadWindowRecord(store, key, back);
    QVERIFY(back == r);
    // The layout's groups in the store are written over, not erased: a window without quiet
    // hours in the same place must not take the earlier window's.
    r.Quiet = TQuietSettings();
    WriteWindowRecord(store, key, r, true);
    ReadWindowRecord(store, key, back);
    QVERIFY(back == r);
    QVERIFY(!ReadSectionKeys(store, key).contains(QStringLiteral("QuietFrom")));
    TUserStore::ResetInstance();
}

void TQuietHoursTest::summaryCountsAndKeepsItsGap() {
    TAlertSummary s;
    QCOMPARE(s.DueInMs(0), qint64(0)); // the first is said at once
    s.Arrived(QStringLiteral("AAPL"));
    s.Arrived(QStringLiteral("MSFT"));
    s.Arrived(QStringLiteral("TSLA"));
    QCOMPARE(s.Waiting(), 3);
    QCOMPARE(s.Take(QStringLiteral("Running Up"), 10000),
             QStringLiteral("3 new alerts in Running Up, newest TSLA"));
    QCOMPARE(s.Waiting(), 0);
    s.Arrived(QStringLiteral("NVDA"));
    QCOMPARE(s.DueInMs(10001), TAlertSummary::GapMs - 1);
    QCOMPARE(s.DueInMs(10000 + TAlertSummary::GapMs - 1), qint64(1));
    QCOMPARE(s.DueInMs(10000 + TAlertSummary::GapMs), qint64(0));
    QCOMPARE(s.Take(QStringLiteral("Running Up"), 10000 + TAlertSummary::GapMs),
             QStringLiteral("New alert in Running Up: NVDA"));
    // Outside text as one bounded line.
    QCOMPARE(TAlertSummary::Text(QStringLiteral("A\nB"), 2, QStringLiteral("X\tY")),
             QStringLiteral("2 new alerts in A B, newest X Y"));
    QVERIFY(TAlertSummary::Text(QString(500, QLatin1Char('W')), 2, QString(500, QLatin1Char('S')))
                .size() < TAlertAnnouncer::MaxWindowChars + TAlertAnnouncer::MaxSymbolChars + 40);
}

void TQuietHoursTest::eachWindowIsAnnouncedByItsMode() {
    QWidget a, b, c, d;
    auto* summary = new TAlertAnnouncer(&a);
    auto* each = new TAlertAnnouncer(&b);
    auto* off = new TAlertAnnouncer(&c);
    auto* other = new TAlertAnnouncer(&d);
    QCOMPARE(each->Mode(), TAnnounceMode::Each); // as windows always were
    summary->SetMode(TAnnounceMode::Summary);
    off->SetMode(TAnnounceMode::Off);
    other->SetMode(TAnnounceMode::Summary);
    const int lines = TAlertAnnouncer::Lines();

    for (const char* symbol : {"AAPL", "MSFT", "TSLA"})
        summary->AlertArrived(QStringLiteral("Scans"), Alert(QString::fromLatin1(symbol)));
    each->AlertArrived(QStringLiteral("Gappers"), Alert(QStringLiteral("AMD")));
    off->AlertArrived(QStringLiteral("Night"), Alert(QStringLiteral("IBM")));
    summary->Flush();
    QCOMPARE(TAlertAnnouncer::Lines(), lines + 1);
    QCOMPARE(TAlertAnnouncer::LastLine(),
             QStringLiteral("3 new alerts in Scans, newest TSLA; AMD, in Gappers"));
    QCOMPARE(off->Announcements(), 0);

    // Within the gap the summary waits; another window's summary and each alert do not.
    Now += 1000;
    summary->AlertArrived(QStringLiteral("Scans"), Alert(QStringLiteral("NVDA")));
    summary->AlertArrived(QStringLiteral("Scans"), Alert(QStringLiteral("INTC")));
    other->AlertArrived(QStringLiteral("Energy"), Alert(QStringLiteral("XOM")));
    off->AlertArrived(QStringLiteral("Night"), Alert(QStringLiteral("IBM")));
    summary->Flush();
    QCOMPARE(TAlertAnnouncer::LastLine(), QStringLiteral("New alert in Energy: XOM"));
    Now += TAlertSummary::GapMs - 1001;
    summary->Flush();
    QCOMPARE(TAlertAnnouncer::Lines(), lines + 2);
    Now += 1;
    summary->Flush();
    QCOMPARE(TAlertAnnouncer::Lines(), lines + 3);
    QCOMPARE(TAlertAnnouncer::LastLine(), QStringLiteral("2 new alerts in Scans, newest INTC"));
    QCOMPARE(summary->Announcements(), 2);
    QCOMPARE(off->Announcements(), 0);

    // Switched to Off, what waited is not said.
    Now += TAlertSummary::GapMs;
    each->AlertArrived(QStringLiteral("Gappers"), Alert(QStringLiteral("AMD")));
    each->SetMode(TAnnounceMode::Off);
    each->Flush();
    QCOMPARE(TAlertAnnouncer::Lines(), lines + 3);
}

void TQuietHoursTest::pageEditsBothByKeyboard() {
    TQuietHoursTab tab;
    tab.Load(Hours(20 * 60, 9 * 60 + 30, TAnnounceMode::Summary));
    QVERIFY(tab.QuietCheckBox->isChecked() && tab.FromTimeEdit->isEnabled());
    QCOMPARE(tab.FromTimeEdit->time(), QTime(20, 0));
    QCOMPARE(tab.ToTimeEdit->time(), QTime(9, 30));
    QCOMPARE(tab.AnnounceComboBox->currentText(), QStringLiteral("Summary"));
    TQuietSettings saved;
    tab.Save(saved);
    QVERIFY(saved == Hours(20 * 60, 9 * 60 + 30, TAnnounceMode::Summary));

    // A window without quiet hours: the box clear, the times greyed.
    tab.Load(TQuietSettings());
    QVERIFY(!tab.QuietCheckBox->isChecked() && !tab.FromTimeEdit->isEnabled());
    QCOMPARE(tab.AnnounceComboBox->currentText(), QStringLiteral("Each"));

    // Every control is named for a screen reader, and each label leads to its control.
    for (QWidget* control : std::initializer_list<QWidget*>{tab.QuietCheckBox, tab.FromTimeEdit,
                                                            tab.ToTimeEdit, tab.AnnounceComboBox})
        QVERIFY2(!control->accessibleName().isEmpty(), qPrintable(control->objectName()));
    QList<QWidget*> buddies;
    for (const QLabel* label : tab.findChildren<QLabel*>())
        if (label->buddy())
            buddies << label->buddy();
    QVERIFY(buddies.contains(tab.ToTimeEdit) && buddies.contains(tab.AnnounceComboBox));

    // Keyboard only: tick, an hour later, on to the end, on to the announcements, Off.
    tab.show();
    QVERIFY(QTest::qWaitForWindowActive(&tab));
    const auto press = [](Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(QApplication::focusWidget(), key, modifiers);
    };
    tab.QuietCheckBox->setFocus();
    press(Qt::Key_Space);
    QVERIFY(tab.QuietCheckBox->isChecked() && tab.FromTimeEdit->isEnabled());
    press(Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), tab.FromTimeEdit);
    press(Qt::Key_Up); // the hour section
    press(Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), tab.FromTimeEdit); // on to its minutes
    press(Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), tab.ToTimeEdit);
    press(Qt::Key_Tab);
    press(Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), tab.AnnounceComboBox);
    press(Qt::Key_Home);
    tab.Save(saved);
    QVERIFY2(saved == Hours(23 * 60, 7 * 60, TAnnounceMode::Off),
             qPrintable(QuietTimeText(saved.From) + QLatin1Char('-') + QuietTimeText(saved.To)));

    // The same time twice is no quiet hours, and the page says so.
    tab.ToTimeEdit->setTime(QTime(23, 0));
    QVERIFY(tab.SameTimeLabel->isVisible());
    tab.Save(saved);
    QVERIFY(!saved.HasQuietHours());
    // The mnemonics reach the box and the combo from anywhere on the page.
    tab.QuietCheckBox->setFocus();
    press(Qt::Key_A, Qt::AltModifier);
    QCOMPARE(QApplication::focusWidget(), tab.AnnounceComboBox);
    press(Qt::Key_T, Qt::AltModifier);
    QCOMPARE(QApplication::focusWidget(), tab.ToTimeEdit);
}

QTEST_MAIN(TQuietHoursTest)
#include "tst_quiet_hours.moc"
