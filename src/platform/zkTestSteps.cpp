#include "zkTestSteps.h"

#include "zkPrompts.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QListWidget>
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

// Runs one step; false when its control is not ready yet.
bool RunStep(const QString& step) {
    if (step.startsWith(QLatin1String("exists:")))
        return QFileInfo::exists(step.mid(7));
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
