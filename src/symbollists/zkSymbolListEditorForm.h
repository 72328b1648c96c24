#pragma once

#include <QWidget>

// The symbol list editor. Stand-in until the symbol list work lands: a hidden window that
// start-up creates at its place in the order.
class TSymbolListEditorForm : public QWidget {
    Q_OBJECT
public:
    explicit TSymbolListEditorForm(QWidget* parent = nullptr);
};
