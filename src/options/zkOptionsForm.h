#pragma once

#include <QDialog>
#include <QList>

class IOptionsHost;
class IOptionsPage;
class QPushButton;
class QTabWidget;
class QTreeWidget;
class TBrokerPage;
class TConnectionPage;
class TGeneralPage;
class TInboxPage;
class TLayoutsPage;
class TUpdatesPage;

// The options dialog: a tree of pages (General, Connection, Updates, Layouts, Alert Inbox,
// Broker), each a widget of its own, reloaded from the live objects and stores each time it is
// shown; Save writes all of them back and applies them at once, Cancel drops the edits.
class TOptionsForm : public QDialog {
    Q_OBJECT
public:
    explicit TOptionsForm(IOptionsHost* host, QWidget* owner = nullptr);

    // --- navigation ---
    QTreeWidget* PagesTreeView = nullptr;
    QTabWidget* PagesControl = nullptr;
    QPushButton* SaveButton = nullptr;
    QPushButton* CancelButton = nullptr;

    // --- the pages, in the tree's order; each holds its own controls ---
    TGeneralPage* GeneralPage = nullptr;
    TConnectionPage* ConnectionPage = nullptr;
    TUpdatesPage* UpdatesPage = nullptr;
    TLayoutsPage* LayoutsPage = nullptr;
    TInboxPage* InboxPage = nullptr;
    TBrokerPage* BrokerPage = nullptr;

    void LoadAllPages();
    void SaveAllPages();
    void ShowPage(int Index);

    void PagesTreeViewChange();
    void SaveButtonClick();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormShow();

    // Each page as the dialog drives it, in the order of the tabs.
    QList<IOptionsPage*> Pages;
};

// The one options dialog, created at start-up after the main window (nullptr before).
TOptionsForm* OptionsForm();
