#include "zkSymbolListEditorForm.h"

TSymbolListEditorForm::TSymbolListEditorForm(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("SymbolListEditorForm"));
    setWindowTitle(tr("Symbol List Editor"));
}
