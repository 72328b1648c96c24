#include "zkGenericConnectorForm.h"

#include "shell/zkWindowRing.h"

#include <QCloseEvent>
#include <QKeyEvent>

TGenericConnectorForm::TGenericConnectorForm(QWidget* owner) : QWidget(owner, Qt::Window) {
    setObjectName(QStringLiteral("GenericConnectorForm"));
    setWindowTitle(tr("Set Up External Linking"));
    resize(360, 300);
    RebuildWindowRing();
}

void TGenericConnectorForm::EnsureListsForActions(const QStringList& actions) {
    EnsuredActions += actions;
}

void TGenericConnectorForm::closeEvent(QCloseEvent* event) {
    hide();
    event->ignore();
}

void TGenericConnectorForm::keyReleaseEvent(QKeyEvent* event) {
    HandleWindowKeys(event);
    QWidget::keyReleaseEvent(event);
}
