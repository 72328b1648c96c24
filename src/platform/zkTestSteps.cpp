#include "zkTestSteps.h"

#include "zkPrompts.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QItemSelectionModel>
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QHelpEvent>
#include <QLabel>
#include <QListWidget>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>

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

// Runs one step; false when its control is not ready yet.
bool RunStep(const QString& step) {
    if (step.startsWith(QLatin1String("tooltip:")))
        return ShowRowToolTip(step.mid(8));
    if (step.startsWith(QLatin1String("input:"))) {
        zkPrompts::SetNextInput(step.mid(6));
        return true;
    }
    if (step.startsWith(QLatin1String("selected:"))) {
        const QString rest = step.mid(9);
        const qsizetype colon = rest.indexOf(u':');
        QWidget* active = QApplication::activeWindow();
        auto* view = active ? active->findChild<QAbstractItemView*>(rest.left(colon)) : nullptr;
        if (!view || !view->model() || !view->selectionModel())
            return false;
        const QString text = rest.mid(colon + 1);
        for (const QModelIndex& row : view->selectionModel()->selectedRows())
            for (int column = 0; column < view->model()->columnCount(); ++column)
                if (view->model()->index(row.row(), column).data().toString() == text)
                    return true;
        return false;
    }
    if (step.startsWith(QLatin1String("select:"))) {
        const QString rest = step.mid(7);
        const qsizetype colon = rest.indexOf(u':');
        auto* list = Find<QListWidget>(rest.left(colon));
        if (!Usable(list))
            return false;
        const QString prefix = rest.mid(colon + 1);
        for (int i = 0; i < list->count(); ++i) {
            if (list->item(i)->text().startsWith(prefix)) {
                list->clearSelection();
                list->item(i)->setSelected(true);
                return true;
            }
        }
        return false;
    }
    const qsizetype equals = step.indexOf(u'=');
    if (equals >= 0) {
        auto* edit = Find<QLineEdit>(step.left(equals));
        if (!Usable(edit))
            return false;
        edit->setText(step.mid(equals + 1));
        return true;
    }
    if (auto* button = Find<QAbstractButton>(step)) {
        if (!Usable(button))
            return false;
        button->click();
        return true;
    }
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* action = top->findChild<QAction*>(step); action && action->isEnabled()) {
            action->trigger();
            return true;
        }
    return false;
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
        while (!steps->isEmpty() && RunStep(steps->constFirst())) {
            // Where a script got stuck shows in the test's output.
            fprintf(stderr, "velquist test step: %s\n", qPrintable(steps->constFirst()));
            steps->removeFirst();
            *waited = 0;
        }
        if (!steps->isEmpty() && ++*waited == 50) {
            const QString name = steps->constFirst().section(u'=', 0, 0);
            auto* widget = Find<QWidget>(name);
            fprintf(stderr, "velquist test step still waiting: %s (%s)\n",
                    qPrintable(steps->constFirst()),
                    !widget ? "no such control"
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
