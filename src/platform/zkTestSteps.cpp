#include "zkTestSteps.h"

#include "zkPrompts.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QHelpEvent>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QSpinBox>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QTreeWidget>
#include <QWindow>

#include <cstdio>
#include <memory>

namespace {

bool Usable(QWidget* w) {
    return w && w->isVisible() && w->isEnabled();
}

// The control of that name a user could use now, else any of that name. Windows may share
// control names (two "Create New List" buttons), and the order of top-level windows is not
// fixed, so the first found is not enough.
template <typename T> T* Find(const QString& name) {
    T* any = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        QList<T*> found = top->findChildren<T*>(name);
        if (top->objectName() == name)
            if (auto* t = qobject_cast<T*>(top))
                found.prepend(t);
        for (T* t : found) {
            if (Usable(t))
                return t;
            if (!any)
                any = t;
        }
    }
    return any;
}

// Shows a row's tooltip as the mouse resting on it would, and writes what the tooltip label
// renders: its text, read as rich text where Qt reads it so, and the images it would load.
bool ShowRowToolTip(const QString& name) {
    auto* view = Find<QAbstractItemView>(name);
    if (!Usable(view) || !view->model() || view->model()->rowCount() == 0)
        return false;
    const QPoint at = view->visualRect(view->model()->index(0, 0)).center();
    QHelpEvent help(QEvent::ToolTip, at, view->viewport()->mapToGlobal(at));
    QApplication::sendEvent(view->viewport(), &help);
    QLabel* tip = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->objectName() == QLatin1String("qtooltip_label") && top->isVisible())
            tip = qobject_cast<QLabel*>(top);
    if (!tip)
        return false;
    QTextDocument shown;
    if (tip->textFormat() == Qt::RichText ||
        (tip->textFormat() == Qt::AutoText && Qt::mightBeRichText(tip->text())))
        shown.setHtml(tip->text());
    else
        shown.setPlainText(tip->text());
    int images = 0;
    for (QTextBlock block = shown.begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            images += it.fragment().charFormat().isImageFormat();
    fprintf(stderr, "velquist test tooltip: %s\nvelquist test tooltip images: %d\n",
            qPrintable(shown.toPlainText()), images);
    return true;
}

enum class TStepResult { NotReady, Done, Posted };

// The open message box, when the innermost modal window is one.
QMessageBox* OpenMessageBox() {
    return qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
}

// Runs one step; NotReady when its control is not ready yet, Posted when what it does runs
// from the event loop next.
TStepResult RunStep(const QString& step) {
    using enum TStepResult;
    if (step.startsWith(QLatin1String("tooltip:")))
        return ShowRowToolTip(step.mid(8)) ? Done : NotReady;
    if (step.startsWith(QLatin1String("input:"))) {
        zkPrompts::SetNextInput(step.mid(6));
        return Done;
    }
    if (step.startsWith(QLatin1String("asked:"))) {
        QMessageBox* box = OpenMessageBox();
        return box && box->isVisible() && box->text().startsWith(step.mid(6)) ? Done : NotReady;
    }
    if (step.startsWith(QLatin1String("close:"))) {
        QWidget* widget = Find<QWidget>(step.mid(6));
        if (!Usable(widget) || !widget->windowHandle())
            return NotReady;
        // The window manager's request reaches the window, not the widget, and not through
        // QWidget::close.
        QPointer<QWindow> window = widget->windowHandle();
        QMetaObject::invokeMethod(
            qApp,
            [window] {
                QCloseEvent request;
                if (window)
                    QCoreApplication::sendEvent(window, &request);
            },
            Qt::QueuedConnection);
        return Posted;
    }
    if (step.startsWith(QLatin1String("shows:"))) {
        const QString rest = step.mid(6);
        const qsizetype colon = rest.indexOf(u':');
        auto* label = Find<QLabel>(rest.left(colon));
        if (!Usable(label) || !label->text().contains(rest.mid(colon + 1)))
            return NotReady;
        fprintf(stderr, "velquist test shows: %s\n", qPrintable(label->text()));
        return Done;
    }
    if (step.startsWith(QLatin1String("file:")))
        return QFileInfo::exists(step.mid(5)) ? Done : NotReady;
    if (step.startsWith(QLatin1String("answer:"))) {
        QMessageBox* box = OpenMessageBox();
        if (!box || !box->isVisible())
            return NotReady;
        const QString name = step.mid(7);
        const QMessageBox::StandardButton which = name == QLatin1String("Yes")  ? QMessageBox::Yes
                                                  : name == QLatin1String("No") ? QMessageBox::No
                                                  : name == QLatin1String("Cancel")
                                                      ? QMessageBox::Cancel
                                                      : QMessageBox::Ok;
        QAbstractButton* button = box->button(which);
        if (!button)
            return NotReady;
        QMetaObject::invokeMethod(button, &QAbstractButton::click, Qt::QueuedConnection);
        return Posted;
    }
    if (step.startsWith(QLatin1String("selected:"))) {
        const QString rest = step.mid(9);
        const qsizetype colon = rest.indexOf(u':');
        QWidget* active = QApplication::activeWindow();
        auto* view = active ? active->findChild<QAbstractItemView*>(rest.left(colon)) : nullptr;
        if (!view || !view->model() || !view->selectionModel())
            return NotReady;
        const QString text = rest.mid(colon + 1);
        for (const QModelIndex& row : view->selectionModel()->selectedRows())
            for (int column = 0; column < view->model()->columnCount(); ++column)
                if (view->model()->index(row.row(), column).data().toString() == text)
                    return Done;
        return NotReady;
    }
    if (step.startsWith(QLatin1String("menu:"))) {
        const QString rest = step.mid(5);
        const qsizetype colon = rest.indexOf(u':');
        auto* widget = Find<QWidget>(rest.left(colon));
        if (!Usable(widget))
            return NotReady;
        // The menu key's request; a scroll area's comes to its viewport.
        QWidget* target = widget;
        if (auto* area = qobject_cast<QAbstractScrollArea*>(widget))
            target = area->viewport();
        const QPoint at = target->rect().center();
        QContextMenuEvent request(QContextMenuEvent::Keyboard, at, target->mapToGlobal(at));
        QApplication::sendEvent(target, &request);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return NotReady;
        const QString text = rest.mid(colon + 1);
        for (QAction* action : menu->actions())
            if (action->isEnabled() && action->text() == text) {
                // Chosen as the keyboard chooses it: the menu closes and then triggers the
                // item. A trigger posted to the item after closing the menu never runs: a menu
                // that deletes itself on close takes its items, and their posted calls, along.
                menu->setActiveAction(action);
                QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
                QApplication::sendEvent(menu, &enter);
                return Posted;
            }
        menu->close();
        return NotReady;
    }
    if (step.startsWith(QLatin1String("select:"))) {
        const QString rest = step.mid(7);
        const qsizetype colon = rest.indexOf(u':');
        const QString prefix = rest.mid(colon + 1);
        if (auto* tree = Find<QTreeWidget>(rest.left(colon))) {
            if (!Usable(tree))
                return NotReady;
            for (int i = 0; i < tree->topLevelItemCount(); ++i)
                if (tree->topLevelItem(i)->text(0).startsWith(prefix)) {
                    tree->setCurrentItem(tree->topLevelItem(i));
                    return Done;
                }
            return NotReady;
        }
        auto* list = Find<QListWidget>(rest.left(colon));
        if (!Usable(list))
            return NotReady;
        for (int i = 0; i < list->count(); ++i) {
            if (list->item(i)->text().startsWith(prefix)) {
                list->clearSelection();
                list->item(i)->setSelected(true);
                return Done;
            }
        }
        return NotReady;
    }
    const qsizetype equals = step.indexOf(u'=');
    if (equals >= 0) {
        const QString name = step.left(equals);
        if (auto* edit = Find<QLineEdit>(name)) {
            if (!Usable(edit))
                return NotReady;
            edit->setText(step.mid(equals + 1));
            return Done;
        }
        auto* spin = Find<QSpinBox>(name);
        if (!Usable(spin))
            return NotReady;
        spin->setValue(step.mid(equals + 1).toInt());
        return Done;
    }
    // Posted, not called: a dialog the command opens runs its event loop outside this step,
    // so the steps after it still run.
    if (auto* button = Find<QAbstractButton>(step)) {
        if (!Usable(button))
            return NotReady;
        QMetaObject::invokeMethod(button, &QAbstractButton::click, Qt::QueuedConnection);
        return Posted;
    }
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* action = top->findChild<QAction*>(step); action && action->isEnabled()) {
            QMetaObject::invokeMethod(action, &QAction::trigger, Qt::QueuedConnection);
            return Posted;
        }
    return NotReady;
}

} // namespace

void zkTestSteps::StartFromEnvironment() {
    if (!qEnvironmentVariableIsSet("VELQUIST_TEST_STEPS"))
        return;
    auto steps = std::make_shared<QStringList>(
        qEnvironmentVariable("VELQUIST_TEST_STEPS").split(u';', Qt::SkipEmptyParts));
    auto* timer = new QTimer(qApp);
    auto waited = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, steps, waited] {
        while (!steps->isEmpty()) {
            const TStepResult result = RunStep(steps->constFirst());
            if (result == TStepResult::NotReady)
                break;
            // Where a script got stuck shows in the test's output.
            fprintf(stderr, "velquist test step: %s\n", qPrintable(steps->constFirst()));
            steps->removeFirst();
            *waited = 0;
            if (result == TStepResult::Posted)
                return; // the next step once the command has run
        }
        if (!steps->isEmpty() && ++*waited == 50) {
            const QString name = steps->constFirst().section(u'=', 0, 0);
            auto* widget = Find<QWidget>(name);
            fprintf(stderr, "velquist test step still waiting: %s (%s)\n",
                    qPrintable(steps->constFirst()),
                    !widget                ? "no such control"
                    : !widget->isVisible() ? "hidden"
                    : !widget->isEnabled() ? "disabled"
                                           : "no such entry");
        }
        if (steps->isEmpty()) {
            timer->stop();
            fputs("velquist test steps done\n", stderr);
            fflush(stderr);
        }
    });
    timer->start(100);
}
