#pragma once

#include <QWidget>

// The symbol lists window. Stand-in until the symbol list work lands: an empty window of its
// own that layouts can move, size, show and hide; closing it hides it.
class TSymbolListsForm : public QWidget {
    Q_OBJECT
public:
    explicit TSymbolListsForm(QWidget* owner);
    // "Refresh from Server"; the first activation of the main window presses it.
    void RefreshFromServerButtonClick();
    int RefreshCount = 0;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
};
