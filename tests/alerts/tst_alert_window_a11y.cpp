// An alert window for screen-reader and keyboard users: each new alert is told to screen
// readers (a polite announcement; the window's notification takes the alert's words as its
// name) without the focus moving, a burst as one, all windows' alerts of a moment as one line,
// never while a menu or dialog is open; Enter on the selected alert does what the window's
// selection action does for the click or double-click choice. Without a screen reader on a bus Qt
// raises no accessibility events at all; the whole-process test hears them on a real one.
#include "alerts/zkActions.h"
#include "alerts/zkAlertAnnouncer.h"
#include "alerts/zkAlertForm.h"
#include "components/zkComponentWrappers.h"
#include "components/zkSimAlertWindow.h"
#include "components/zkSimService.h"
#include "desktop/zkAccessibility.h"
#include "linking/zkExternalLinks.h"
#include "linking/zkGenericConnectorForm.h"
#include "platform/zkPrompts.h"
#include "zkFakeDesk.h"
#include "zkTestSupport.h"

#include <QAccessible>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTableView>
#include <QVBoxLayout>
#include <QWindow>
#include <QtTest>

namespace {

TAlertData Alert(const QString& symbol, double price = 0, const QString& text = QString()) {
    return TAlertData(symbol, 0, QDateTime::currentDateTimeUtc(), price, text);
}

} // namespace

class TAlertWindowA11yTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { zkAccessibility::Install(); }
    void cleanup() { SetAlertAnnouncementsEnabled(true); }

    void oneAlertIsSaidWholeWithoutTakingTheFocus();
    void aBurstIsSaidAsOne();
    void announcementsKeepTheirDistance();
    void windowsAreSaidInOneLine();
    void anOpenMenuOrDialogIsNotInterrupted();
    void outsideTextIsSaidAsBoundedPlainText();
    void switchedOffSaysNothing();
    void enterRunsTheSelectionActionOfTheClickChoice_data();
    void enterRunsTheSelectionActionOfTheClickChoice();
};

void TAlertWindowA11yTest::oneAlertIsSaidWholeWithoutTakingTheFocus() {
    QWidget window;
    auto* edit = new QLineEdit(&window);
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(edit);
    auto* announcer = new TAlertAnnouncer(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    edit->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), edit);
    announcer->AlertArrived(
        QStringLiteral("Running Up"),
        Alert(QStringLiteral("AAPL"), 182.5, QStringLiteral("New high (+1.20%)")));
    const QString said = QStringLiteral("AAPL, 182.50, New high (+1.20%), in Running Up");
    QTRY_COMPARE(announcer->Announcements(), 1);
    QCOMPARE(announcer->Text(), said);
    QAccessibleInterface* access = QAccessible::queryAccessibleInterface(announcer);
    QVERIFY(access);
    QCOMPARE(access->role(), QAccessible::Notification);
    QCOMPARE(access->text(QAccessible::Name), said);
    // A reader speaks a notification's labels: the one inside says the same.
    QCOMPARE(announcer->findChild<QLabel*>()->text(), said);
    QCOMPARE(access->childCount(), 1);
    QCOMPARE(access->child(0)->text(QAccessible::Name), said);
    QCOMPARE(QApplication::focusWidget(), edit);
    // Out of sight: under the window's other controls.
    QVERIFY(window.childAt(0, 0) != announcer);

    // The same alert again is said again.
    QTest::qWait(TAlertAnnouncer::MinGapMs);
    announcer->AlertArrived(
        QStringLiteral("Running Up"),
        Alert(QStringLiteral("AAPL"), 182.5, QStringLiteral("New high (+1.20%)")));
    QTRY_COMPARE(announcer->Announcements(), 2);
    QCOMPARE(announcer->Text(), said);
}

void TAlertWindowA11yTest::aBurstIsSaidAsOne() {
    QWidget window;
    auto* announcer = new TAlertAnnouncer(&window);
    announcer->AlertArrived(QStringLiteral("Running Up"), Alert(QStringLiteral("AAPL"), 10));
    for (int i = 0; i < 11; ++i)
        announcer->AlertArrived(QStringLiteral("Running Up"), Alert(QStringLiteral("MSFT"), 20));
    QTRY_COMPARE(announcer->Announcements(), 1);
    QCOMPARE(announcer->Text(), QStringLiteral("AAPL and 11 more in Running Up"));
    QTest::qWait(TAlertAnnouncer::GatherMs + 100);
    QCOMPARE(announcer->Announcements(), 1);
    // Two are "1 more".
    QTest::qWait(TAlertAnnouncer::MinGapMs);
    announcer->AlertArrived(QStringLiteral("Gappers"), Alert(QStringLiteral("TSLA")));
    announcer->AlertArrived(QStringLiteral("Gappers"), Alert(QStringLiteral("NVDA")));
    QTRY_COMPARE(announcer->Announcements(), 2);
    QCOMPARE(announcer->Text(), QStringLiteral("TSLA and 1 more in Gappers"));
}

// A steady stream is said at most once per gap, each time with what came since.
void TAlertWindowA11yTest::announcementsKeepTheirDistance() {
    QWidget window;
    auto* announcer = new TAlertAnnouncer(&window);
    announcer->AlertArrived(QStringLiteral("Scans"), Alert(QStringLiteral("A")));
    QTRY_COMPARE(announcer->Announcements(), 1);
    QElapsedTimer sinceFirst;
    sinceFirst.start();
    announcer->AlertArrived(QStringLiteral("Scans"), Alert(QStringLiteral("B")));
    QTest::qWait(TAlertAnnouncer::GatherMs + 200);
    QCOMPARE(announcer->Announcements(), 1); // not yet: too soon after the first
    announcer->AlertArrived(QStringLiteral("Scans"), Alert(QStringLiteral("C")));
    QTRY_COMPARE_WITH_TIMEOUT(announcer->Announcements(), 2, 3000);
    QVERIFY(sinceFirst.elapsed() >= TAlertAnnouncer::MinGapMs - TAlertAnnouncer::GatherMs);
    QCOMPARE(announcer->Text(), QStringLiteral("B and 1 more in Scans"));
}

// What several windows have to say within one gap is one line, each window's part in the order
// they came; the next gap's alerts are the next line.
void TAlertWindowA11yTest::windowsAreSaidInOneLine() {
    QWidget first, second, third;
    auto* a = new TAlertAnnouncer(&first);
    auto* b = new TAlertAnnouncer(&second);
    auto* c = new TAlertAnnouncer(&third);
    QTest::qWait(TAlertAnnouncer::MinGapMs); // clear of earlier lines
    const int lines = TAlertAnnouncer::Lines();
    b->AlertArrived(QStringLiteral("Gappers"), Alert(QStringLiteral("TSLA")));
    a->AlertArrived(QStringLiteral("Running Up"), Alert(QStringLiteral("AAPL"), 182.5));
    c->AlertArrived(QStringLiteral("Scans"), Alert(QStringLiteral("A")));
    c->AlertArrived(QStringLiteral("Scans"), Alert(QStringLiteral("B")));
    QTRY_COMPARE(TAlertAnnouncer::Lines(), lines + 1);
    QCOMPARE(
        TAlertAnnouncer::LastLine(),
        QStringLiteral("TSLA, in Gappers; AAPL, 182.50, in Running Up; A and 1 more in Scans"));
    // Each window's notification carries its own part.
    QCOMPARE(a->Text(), QStringLiteral("AAPL, 182.50, in Running Up"));
    QCOMPARE(c->Text(), QStringLiteral("A and 1 more in Scans"));
    for (TAlertAnnouncer* each : {a, b, c})
        QCOMPARE(each->Announcements(), 1);
    QTest::qWait(TAlertAnnouncer::GatherMs + 100);
    QCOMPARE(TAlertAnnouncer::Lines(), lines + 1);

    // Within the gap after it, a second window's alert waits for the first's next one.
    c->AlertArrived(QStringLiteral("Scans"), Alert(QStringLiteral("C")));
    QTest::qWait(TAlertAnnouncer::GatherMs + 100);
    a->AlertArrived(QStringLiteral("Running Up"), Alert(QStringLiteral("MSFT")));
    QTRY_COMPARE(TAlertAnnouncer::Lines(), lines + 2);
    QCOMPARE(TAlertAnnouncer::LastLine(), QStringLiteral("C, in Scans; MSFT, in Running Up"));

    // A window gone before its turn is left out.
    b->AlertArrived(QStringLiteral("Gappers"), Alert(QStringLiteral("NVDA")));
    c->AlertArrived(QStringLiteral("Scans"), Alert(QStringLiteral("D")));
    delete b;
    QTRY_COMPARE(TAlertAnnouncer::Lines(), lines + 3);
    QCOMPARE(TAlertAnnouncer::LastLine(), QStringLiteral("D, in Scans"));
}

// A user in a menu or a dialog is not interrupted: the line waits until it closes, gathering
// what comes meanwhile.
void TAlertWindowA11yTest::anOpenMenuOrDialogIsNotInterrupted() {
    QWidget window;
    auto* announcer = new TAlertAnnouncer(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QTest::qWait(TAlertAnnouncer::MinGapMs);
    const int lines = TAlertAnnouncer::Lines();

    QMenu menu(&window);
    menu.addAction(QStringLiteral("Copy Symbol"));
    menu.popup(window.mapToGlobal(QPoint(10, 10)));
    QTRY_VERIFY(QApplication::activePopupWidget() == &menu);
    announcer->AlertArrived(QStringLiteral("Scans"), Alert(QStringLiteral("A")));
    QTest::qWait(TAlertAnnouncer::MinGapMs + TAlertAnnouncer::HeldRetryMs);
    QCOMPARE(TAlertAnnouncer::Lines(), lines);
    announcer->AlertArrived(QStringLiteral("Scans"), Alert(QStringLiteral("B")));
    menu.close();
    QTRY_COMPARE(TAlertAnnouncer::Lines(), lines + 1);
    QCOMPARE(TAlertAnnouncer::LastLine(), QStringLiteral("A and 1 more in Scans"));

    QDialog dialog(&window);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.show();
    QTRY_VERIFY(QApplication::activeModalWidget() == &dialog);
    announcer->AlertArrived(QStringLiteral("Scans"), Alert(QStringLiteral("C")));
    QTest::qWait(2 * TAlertAnnouncer::MinGapMs);
    QCOMPARE(TAlertAnnouncer::Lines(), lines + 1);
    dialog.reject();
    QTRY_COMPARE(TAlertAnnouncer::Lines(), lines + 2);
    QCOMPARE(TAlertAnnouncer::LastLine(), QStringLiteral("C, in Scans"));
}

void TAlertWindowA11yTest::outsideTextIsSaidAsBoundedPlainText() {
    const QString huge =
        QStringLiteral("<b>x</b>\n\tline\x01two ") + QString(5000, QLatin1Char('y'));
    const QString said =
        TAlertAnnouncer::AlertText(QString(500, QLatin1Char('W')), Alert(huge, 0, huge));
    QVERIFY2(said.size() <= TAlertAnnouncer::MaxSymbolChars + TAlertAnnouncer::MaxDescriptionChars +
                                TAlertAnnouncer::MaxWindowChars + 10,
             qPrintable(QString::number(said.size())));
    QVERIFY(!said.contains(QLatin1Char('\n')) && !said.contains(QLatin1Char('\t')) &&
            !said.contains(QChar(1)));
    QVERIFY(said.startsWith(QStringLiteral("<b>x</b> line two")));
    QVERIFY(said.contains(QChar(0x2026)));
    // No price is no price, not "0.00".
    QCOMPARE(TAlertAnnouncer::AlertText(QStringLiteral("Inbox"), Alert(QStringLiteral("AAPL"))),
             QStringLiteral("AAPL, in Inbox"));
    // A cut never leaves half a character.
    const QString emoji = QString(TAlertAnnouncer::MaxSymbolChars - 2, QLatin1Char('a')) +
                          QString::fromUtf8("\xF0\x9F\x98\x80\xF0\x9F\x98\x80");
    const QString cut = TAlertAnnouncer::BurstText(QStringLiteral("W"), emoji, 3);
    QVERIFY(!cut.section(QChar(0x2026), 0, 0).back().isHighSurrogate());

    QWidget window;
    auto* announcer = new TAlertAnnouncer(&window);
    announcer->AlertArrived(QStringLiteral("W"), Alert(huge));
    announcer->Flush();
    auto* label = announcer->findChild<QLabel*>();
    QCOMPARE(label->textFormat(), Qt::PlainText);
    QVERIFY(label->text().startsWith(QStringLiteral("<b>x</b>")));
}

void TAlertWindowA11yTest::switchedOffSaysNothing() {
    QWidget window;
    auto* announcer = new TAlertAnnouncer(&window);
    SetAlertAnnouncementsEnabled(false);
    announcer->AlertArrived(QStringLiteral("Running Up"), Alert(QStringLiteral("AAPL")));
    announcer->Flush();
    QTest::qWait(TAlertAnnouncer::GatherMs + 100);
    QCOMPARE(announcer->Announcements(), 0);
    QVERIFY(announcer->Text().isEmpty());
    SetAlertAnnouncementsEnabled(true);
    announcer->AlertArrived(QStringLiteral("Running Up"), Alert(QStringLiteral("AAPL")));
    QTRY_COMPARE(announcer->Announcements(), 1);
}

void TAlertWindowA11yTest::enterRunsTheSelectionActionOfTheClickChoice_data() {
    QTest::addColumn<int>("choice");
    QTest::newRow("double-click") << 2;
    QTest::newRow("click") << 3;
}

void TAlertWindowA11yTest::enterRunsTheSelectionActionOfTheClickChoice() {
    QFETCH(int, choice);
    TTestHome home;
    TSimService::ResetInstance();
    TSimService::Instance()->SetPropertyByName(QStringLiteral("SimAlertInterval"),
                                               QStringLiteral("0"));
    zkPrompts::SetScripted(true);
    CreateDefaultActionLists();
    SetSelectionTrigger(DefaultWindowActions(), choice);
    {
        TFakeDesk desk;
        TGenericConnectorForm connectors(nullptr);
        connectors.FormShow();
        desk.Connectors = &connectors;
        TAlertForm* w = desk.NewAlertWindow();
        // A window saved with the other choice follows the program's choice.
        w->SetActions({QStringLiteral("%1,4,Scans").arg(choice == 3 ? 2 : 3)});
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w));
        w->ZentrikWindowX->AddExternalAlerts(
            {Alert(QStringLiteral("AAPL")), Alert(QStringLiteral("MSFT"))});
        auto* sim = qobject_cast<TSimZentrikWindowX*>(w->ZentrikWindowX->Component());
        QVERIFY(sim);
        QTableView* table = sim->View();
        table->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), table);
        const auto queued = [&] {
            connectors.EnsureList(QStringLiteral("Scans"));
            return connectors.LinkList.Find(QStringLiteral("Scans"))->PendingSymbols;
        };

        // Nothing selected: nothing to send.
        QTest::keyClick(w->windowHandle(), Qt::Key_Return);
        QVERIFY(queued().isEmpty());
        // Newest first: the second row is AAPL.
        table->selectRow(1);
        QTest::keyClick(w->windowHandle(), Qt::Key_Return);
        QCOMPARE(queued(), QStringList{QStringLiteral("AAPL")});
        QVERIFY(w->HasPendingActions);
        table->selectRow(0);
        QTest::keyClick(w->windowHandle(), Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(queued(), (QStringList{QStringLiteral("AAPL"), QStringLiteral("MSFT")}));
        // With a modifier it is some other command.
        QTest::keyClick(w->windowHandle(), Qt::Key_Return, Qt::ControlModifier);
        QCOMPARE(queued().size(), 2);
        // The list still keeps its selection, and the mouse choice did not change.
        QCOMPARE(sim->SelectedAlert()->AlertSymbol(), QStringLiteral("MSFT"));
        QCOMPARE(w->ZentrikWindowX->AlertSelectionType(), 0);
    }
    SetSelectionTrigger(DefaultWindowActions(), 2);
    TSimService::ResetInstance();
}

QTEST_MAIN(TAlertWindowA11yTest)
#include "tst_alert_window_a11y.moc"
