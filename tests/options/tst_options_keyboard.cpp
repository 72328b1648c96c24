// The options dialog for keyboard and screen-reader users: Tab leads from the page tree into
// the page, the new alerts announcement setting is kept and applied, and the General page has
// room for every control it holds.
#include "alerts/zkActions.h"
#include "alerts/zkAlertAnnouncer.h"
#include "config/zkLayoutSettings.h"
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "options/zkGeneralPage.h"
#include "options/zkOptionsForm.h"
#include "options/zkOptionsHost.h"
#include "options/zkUpdatesPage.h"
#include "updates/zkUpdateForm.h"
#include "zkFakeComponents.h"
#include "zkTestSupport.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimeEdit>
#include <QTreeWidget>
#include <QtTest>

namespace {

struct TOptionsDesk : IOptionsHost {
    TClientSandbox Sandbox;
    std::shared_ptr<TFakeComponentFactory> Factory = std::make_shared<TFakeComponentFactory>();
    TScopedComponentFactory Scope{Factory};
    TFakeConnectionControl Connection;
    std::unique_ptr<TUpdateForm> Update;
    TLayoutSettings Layout;
    std::unique_ptr<TOptionsForm> Form;

    TOptionsDesk() {
        CreateDefaultActionLists();
        Update = std::make_unique<TUpdateForm>(nullptr);
        SetLayoutDefaults(Layout);
        Form = std::make_unique<TOptionsForm>(this);
    }
    ~TOptionsDesk() override {
        Form.reset();
        Update.reset();
        SetAlertAnnouncementsEnabled(true);
    }
    IConnectionControl* OptionsConnection() override { return &Connection; }
    TUpdateForm* OptionsUpdateForm() override { return Update.get(); }
    TLayoutSettings& OptionsLayoutSettings() override { return Layout; }
    IAlertHub* OptionsAlertHub() override { return nullptr; }

    void open() {
        Form->show();
        QVERIFY(QTest::qWaitForWindowActive(Form.get()));
    }
    QWidget* focus() const { return QApplication::focusWidget(); }
};

QString nameOf(const QWidget* w) {
    return w ? QStringLiteral("%1 (%2)").arg(w->objectName(), w->metaObject()->className())
             : QStringLiteral("nothing");
}

} // namespace

class TOptionsKeyboardTest : public QObject {
    Q_OBJECT
private slots:
    void tabLeadsFromTheTreeIntoThePageAndOn();
    void announcementSettingIsKeptAndApplied();
    void generalPageHasRoomForEveryControl();
    void themeBoxComesInTabOrderWhereItStands();
    void scheduleFollowsTheBoxHoweverItIsToggled();
};

void TOptionsKeyboardTest::tabLeadsFromTheTreeIntoThePageAndOn() {
    TOptionsDesk desk;
    desk.open();
    QTreeWidget* tree = desk.Form->PagesTreeView;
    for (int page = 0; page < tree->topLevelItemCount(); ++page) {
        tree->setCurrentItem(tree->topLevelItem(page));
        QWidget* sheet = desk.Form->PagesControl->widget(page);
        QCOMPARE(desk.Form->PagesControl->currentWidget(), sheet);
        tree->setFocus();
        QTRY_COMPARE(desk.focus(), tree);
        QTest::keyClick(desk.focus(), Qt::Key_Tab);
        QVERIFY2(
            sheet->isAncestorOf(desk.focus()),
            qPrintable(
                QStringLiteral("page %1: Tab went to %2").arg(page).arg(nameOf(desk.focus()))));
        // Back the same way.
        QTest::keyClick(desk.focus(), Qt::Key_Backtab);
        QCOMPARE(desk.focus(), tree);
        // On through the page to the buttons, never into a page that is not shown.
        bool reachedSave = false;
        for (int step = 0; step < 40 && !reachedSave; ++step) {
            QTest::keyClick(desk.focus(), Qt::Key_Tab);
            QWidget* now = desk.focus();
            reachedSave = now == desk.Form->SaveButton;
            QVERIFY2(
                reachedSave || now == tree || sheet->isAncestorOf(now),
                qPrintable(QStringLiteral("page %1: Tab went to %2").arg(page).arg(nameOf(now))));
        }
        QVERIFY2(reachedSave, qPrintable(QStringLiteral("page %1").arg(page)));
    }
    desk.Form->reject();
}

void TOptionsKeyboardTest::announcementSettingIsKeptAndApplied() {
    TOptionsDesk desk;
    desk.open();
    // On unless switched off.
    QVERIFY(desk.Form->GeneralPage->AnnounceAlertsCheckBox->isChecked());
    QVERIFY(!desk.Form->GeneralPage->AnnounceAlertsCheckBox->accessibleName().isEmpty() ||
            !desk.Form->GeneralPage->AnnounceAlertsCheckBox->text().isEmpty());
    desk.Form->GeneralPage->AnnounceAlertsCheckBox->setChecked(false);
    desk.Form->SaveButtonClick();
    QVERIFY(!AlertAnnouncementsEnabled());
    QCOMPARE(ReadIntegerValue(TSettingsStore::Registry(), SettingsValuesPath(),
                              QStringLiteral("AnnounceAlerts"), -1),
             0);
    desk.open();
    QVERIFY(!desk.Form->GeneralPage->AnnounceAlertsCheckBox->isChecked());
    // Cancel keeps what was saved.
    desk.Form->GeneralPage->AnnounceAlertsCheckBox->setChecked(true);
    desk.Form->reject();
    QVERIFY(!AlertAnnouncementsEnabled());
    QVERIFY(!ReadAnnounceAlerts(TSettingsStore::Registry()));
    desk.open();
    desk.Form->GeneralPage->AnnounceAlertsCheckBox->setChecked(true);
    desk.Form->SaveButtonClick();
    QVERIFY(AlertAnnouncementsEnabled());
    QVERIFY(ReadAnnounceAlerts(TSettingsStore::Registry()));
}

// A control squeezed below its least size is cut on screen (the fixed dialog does not grow).
void TOptionsKeyboardTest::generalPageHasRoomForEveryControl() {
    TOptionsDesk desk;
    desk.open();
    QWidget* page = desk.Form->GeneralPage;
    QCOMPARE(desk.Form->PagesControl->currentWidget(), page);
    const QList<QWidget*> controls = page->findChildren<QWidget*>();
    int checked = 0;
    for (QWidget* w : controls) {
        if (!w->isVisible() || w->parentWidget() != page)
            continue;
        ++checked;
        QVERIFY2(w->height() >= w->minimumSizeHint().height(),
                 qPrintable(QStringLiteral("%1: %2 high, needs %3")
                                .arg(nameOf(w))
                                .arg(w->height())
                                .arg(w->minimumSizeHint().height())));
        QVERIFY2(page->rect().contains(w->geometry()), qPrintable(nameOf(w)));
    }
    QVERIFY(checked > 10);
    desk.Form->reject();
}

// Beside the grid lines box, above the announcements box: Tab reaches it between the two, and
// Shift+Tab walks back the same way.
void TOptionsKeyboardTest::themeBoxComesInTabOrderWhereItStands() {
    TOptionsDesk desk;
    desk.open();
    TOptionsForm& form = *desk.Form;
    QCOMPARE(form.PagesControl->currentWidget(), form.GeneralPage);
    form.GeneralPage->ShowGridLinesCheckBox->setFocus();
    QTRY_COMPARE(desk.focus(), form.GeneralPage->ShowGridLinesCheckBox);
    const QList<QWidget*> forward = {form.GeneralPage->ThemeComboBox,
                                     form.GeneralPage->AnnounceAlertsCheckBox};
    for (QWidget* expected : forward) {
        QTest::keyClick(desk.focus(), Qt::Key_Tab);
        QVERIFY2(desk.focus() == expected, qPrintable(nameOf(desk.focus())));
    }
    QTest::keyClick(desk.focus(), Qt::Key_Tab);
    QVERIFY2(form.GeneralPage->TimeZoneGroupBox->isAncestorOf(desk.focus()),
             qPrintable(nameOf(desk.focus())));
    const QList<QWidget*> backward = {form.GeneralPage->AnnounceAlertsCheckBox,
                                      form.GeneralPage->ThemeComboBox,
                                      form.GeneralPage->ShowGridLinesCheckBox};
    for (QWidget* expected : backward) {
        QTest::keyClick(desk.focus(), Qt::Key_Backtab);
        QVERIFY2(desk.focus() == expected, qPrintable(nameOf(desk.focus())));
    }
    form.reject();
}

// A screen reader ticks a box through its toggle action, which is no click: the schedule's
// controls follow the box all the same, on and off, as they do for a click.
void TOptionsKeyboardTest::scheduleFollowsTheBoxHoweverItIsToggled() {
    TOptionsDesk desk;
    desk.open();
    TOptionsForm& form = *desk.Form;
    form.PagesControl->setCurrentWidget(form.UpdatesPage);
    QCheckBox* box = form.UpdatesPage->UpdateAtTimeCheckBox;
    const QList<QWidget*> schedule = {
        form.UpdatesPage->DailyNYMidnightRadioButton, form.UpdatesPage->WeekdayComboBox,
        form.UpdatesPage->MonthlyTimePicker, form.UpdatesPage->DailyLocalTimeLabel};
    auto followsBox = [&] {
        for (QWidget* w : schedule)
            if (w->isEnabled() != box->isChecked())
                return false;
        return true;
    };
    QVERIFY(followsBox());
    QAccessibleInterface* access = QAccessible::queryAccessibleInterface(box);
    QVERIFY(access && access->actionInterface());
    QVERIFY(access->actionInterface()->actionNames().contains(
        QAccessibleActionInterface::toggleAction()));
    for (int turn = 0; turn < 2; ++turn) {
        const bool was = box->isChecked();
        access->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        QCOMPARE(box->isChecked(), !was);
        QVERIFY2(followsBox(), qPrintable(QStringLiteral("box %1").arg(box->isChecked())));
    }
    // The keyboard's space bar and a click still do.
    box->setFocus();
    QTRY_COMPARE(desk.focus(), box);
    QTest::keyClick(box, Qt::Key_Space);
    QVERIFY(followsBox());
    box->click();
    QVERIFY(followsBox());
    form.reject();
}

QTEST_MAIN(TOptionsKeyboardTest)
#include "tst_options_keyboard.moc"
