#include "zkSymbolListsForm.h"

#include "shell/zkWindowRing.h"

#include <QCloseEvent>
#include <QKeyEvent>

TSymbolListsForm::TSymbolListsForm(QWidget* owner) : QWidget(owner, Qt::Window) {
    setObjectName(QStringLiteral("SymbolListsForm"));
    setWindowTitle(tr("Symbol Lists"));
    resize(320, 400);
    RebuildWindowRing();
}

void TSymbolListsForm::RefreshFromServerButtonClick() { ++RefreshCount; }

void TSymbolListsForm::closeEvent(QCloseEvent* event) {
    hide();
    event->ignore();
}

void TSymbolListsForm::keyReleaseEvent(QKeyEvent* event) {
    HandleWindowKeys(event);
    QWidget::keyReleaseEvent(event);
}
