#pragma once

#include <QStringList>
#include <QWidget>

// The "Set Up External Linking" window with one connector per link list.
// Stand-in until the linking work lands: a window of its own; closing it hides it;
// EnsureListsForActions only remembers the list names the actions name.
class TGenericConnectorForm : public QWidget {
    Q_OBJECT
public:
    explicit TGenericConnectorForm(QWidget* owner);
    void EnsureListsForActions(const QStringList& actions);
    QStringList EnsuredActions;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
};
