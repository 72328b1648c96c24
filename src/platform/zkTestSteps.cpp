#include "zkTestSteps.h"

#include "zkPrompts.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>

#include <cstdio>

namespace {

template <typename T> T* Find(const QString& name) {
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->objectName() == name)
            if (auto* t = qobject_cast<T*>(top))
                return t;
        if (T* t = top->findChild<T*>(name))
            return t;
    }
    return nullptr;
}

bool Usable(QWidget* w) {
    return w && w->isVisible() && w->isEnabled();
}

// Runs one step; false when its control is not ready yet.
bool RunStep(const QString& step) {
    if (step.startsWith(QLatin1String("input:"))) {
        zkPrompts::SetNextInput(step.mid(6));
        return true;
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
    QObject::connect(timer, &QTimer::timeout, timer, [timer, steps] {
        while (!steps->isEmpty() && RunStep(steps->constFirst()))
            steps->removeFirst();
        if (steps->isEmpty()) {
            timer->stop();
            fputs("velquist test steps done\n", stderr);
            fflush(stderr);
        }
    });
    timer->start(100);
}
