// Every window of the client as a screen reader finds it, read in-process from the accessible
// tree Qt's AT-SPI bridge serves: each reports a window or a dialog, every control it shows says
// what it is (a combo box, which Qt names by its current item on Linux, through its label), and
// the main window's status lines read as text. The whole-process test reads a few of them on a
// real accessibility bus; here every window is read, dialogs a user opens rarely included.
#include "account/zkLoginForm.h"
#include "alerts/zkActionsForm.h"
#include "alerts/zkAlertForm.h"
#include "alerts/zkSoundSetupForm.h"
#include "components/zkSimService.h"
#include "config/zkConfig.h"
#include "config/zkSettings.h"
#include "desktop/zkAccessibility.h"
#include "history/zkAlertHistoryForm.h"
#include "linking/zkGenericConnectorForm.h"
#include "options/zkOptionsForm.h"
#include "shell/zkAboutForm.h"
#include "shell/zkMainForm.h"
#include "symbollists/zkSymbolListEditorForm.h"
#include "symbollists/zkSymbolListsForm.h"
#include "zkTestSupport.h"

#include <QAccessible>
#include <QTabWidget>
#include <QtTest>

namespace {

bool NeedsName(QAccessible::Role role) {
    switch (role) {
    case QAccessible::EditableText:
    case QAccessible::SpinBox:
    case QAccessible::List:
    case QAccessible::Table:
    case QAccessible::Tree:
    case QAccessible::PushButton:
    case QAccessible::CheckBox:
    case QAccessible::RadioButton:
    case QAccessible::Slider:
    case QAccessible::Link:
        return true;
    default:
        return false;
    }
}

bool Labelled(QAccessibleInterface* control) {
    for (const auto& relation : control->relations(QAccessible::Label))
        if (relation.first && !relation.first->text(QAccessible::Name).trimmed().isEmpty())
            return true;
    return false;
}

// The shown controls under iface that do not say what they are.
void FindUnnamed(QAccessibleInterface* iface, const QString& where, QStringList& faults,
                 int depth = 0) {
    if (depth > 30)
        return;
    for (int i = 0; i < iface->childCount(); ++i) {
        QAccessibleInterface* child = iface->child(i);
        if (!child || child->state().invisible)
            continue;
        const QAccessible::Role role = child->role();
        const QObject* object = child->object();
        const QString what = QStringLiteral("%1: role %2, %3 %4")
                                 .arg(where)
                                 .arg(int(role), 0, 16)
                                 .arg(object ? object->metaObject()->className() : "-",
                                      object ? object->objectName() : QString());
        if (role == QAccessible::ComboBox) {
            if (!Labelled(child))
                faults << what + QStringLiteral(" (no label)");
            continue; // its list is its own business
        }
        if (NeedsName(role) && child->text(QAccessible::Name).trimmed().isEmpty())
            faults << what;
        // Table and list rows are named by their contents.
        if (role != QAccessible::Table && role != QAccessible::List && role != QAccessible::Tree)
            FindUnnamed(child, where, faults, depth + 1);
    }
}

// A shown window: its role and what it shows.
QStringList Faults(QWidget* window) {
    window->show();
    QStringList faults;
    if (!QTest::qWaitForWindowExposed(window))
        faults << window->windowTitle() + QStringLiteral(": not shown");
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(window);
    const QString where = window->windowTitle();
    if (!iface)
        return {where + QStringLiteral(": no accessible")};
    if (iface->role() != QAccessible::Window && iface->role() != QAccessible::Dialog)
        faults << where + QStringLiteral(": reports role %1").arg(int(iface->role()), 0, 16);
    FindUnnamed(iface, where, faults);
    return faults;
}

} // namespace

class TAccessibleWindowsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { zkAccessibility::Install(); }
    void everyWindowSaysWhatItIs();
};

void TAccessibleWindowsTest::everyWindowSaysWhatItIs() {
    TClientSandbox sandbox;
    TSimService::ResetInstance();
    TSimService::Instance()->SetPropertyByName(QStringLiteral("SimAlertInterval"),
                                               QStringLiteral("0"));
    WriteStringValue(TSettingsStore::Registry(), SettingsValuesPath(), QStringLiteral("UserName"),
                     QStringLiteral("DEMO"));
    ConfigInfo().LoginURLLink1 = QStringLiteral("Create an account|https://signup.example/");
    QStringList faults;
    {
        TZentrikProMainForm main;
        faults << Faults(&main);
        // The status lines, owner-drawn, read as what they show.
        QAccessibleInterface* top = QAccessible::queryAccessibleInterface(&main);
        QStringList texts;
        std::function<void(QAccessibleInterface*)> collect = [&](QAccessibleInterface* iface) {
            for (int i = 0; i < iface->childCount(); ++i) {
                QAccessibleInterface* child = iface->child(i);
                if (child->role() == QAccessible::StaticText && !child->state().invisible)
                    texts << child->text(QAccessible::Name);
                collect(child);
            }
        };
        // The account line follows the connection, which the service makes in a moment.
        QDeadlineTimer deadline(5000);
        do {
            QTest::qWait(20);
            texts.clear();
            collect(top);
        } while (texts.filter(QStringLiteral("Connected as \"DEMO\"")).isEmpty() &&
                 !deadline.hasExpired());
        for (const QString& shown : {QStringLiteral("^Connected as \"DEMO\"$"),
                                     QStringLiteral("^Market: .+, \\d\\d:\\d\\d ET$"),
                                     QStringLiteral("^Your account expires")})
            if (texts.filter(QRegularExpression(shown)).size() != 1)
                faults << QStringLiteral("the main window reads no %1 among [%2]")
                              .arg(shown, texts.join(QLatin1Char('|')));

        TAlertForm* alerts = main.NewAlertWindow();
        faults << Faults(alerts);
        faults << Faults(main.SymbolListsForm);
        faults << Faults(main.ConnectorForm);
        faults << Faults(main.LoginForm);
        faults << Faults(main.ActionsDialog());
        TAboutForm about(&main);
        faults << Faults(&about);
        TSoundSetupForm sound(&main);
        faults << Faults(&sound);
        TSymbolListEditorForm editor(&main);
        faults << Faults(&editor);
        TAlertHistoryForm history(&main, nullptr);
        faults << Faults(&history);
        TOptionsForm options(&main, &main);
        for (int page = 0; page < options.PagesControl->count(); ++page) {
            options.ShowPage(page);
            faults << Faults(&options);
        }
        options.reject();
    }
    TSimService::ResetInstance();
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
}

QTEST_MAIN(TAccessibleWindowsTest)
#include "tst_accessible_windows.moc"
