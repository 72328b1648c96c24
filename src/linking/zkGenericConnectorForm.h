#pragma once

#include "linking/zkExternalLinks.h"

#include <QStringList>
#include <QWidget>

#include <memory>

class ISimConnectorLink;
class QComboBox;
class QLabel;
class QPushButton;
class QStackedLayout;
class TLinkBroker;
class TZentrikGenericConnector2X;

// "Set Up External Linking": the link lists, one connector each, stacked in ConnectorsPanel
// with the shown list's in front; creating, deleting and renaming the user's lists. Created
// once by the main window; closing it hides it. It also runs the link broker through which
// external programs link to the lists.
class TGenericConnectorForm : public QWidget {
    Q_OBJECT
public:
    explicit TGenericConnectorForm(QWidget* owner);
    ~TGenericConnectorForm() override;

    // --- state ---
    TExternalLinkList LinkList;
    TLinkListNames ListNames;
    QStringList DisplayNames;
    QString CurrentListName;

    // --- controls ---
    QWidget* TopPanel = nullptr;
    QLabel* ListNameLabel = nullptr;
    QComboBox* ListNameComboBox = nullptr;
    QPushButton* CreateNewListButton = nullptr;
    QPushButton* DeleteButton = nullptr;
    QPushButton* RenameButton = nullptr;
    QWidget* ConnectorsPanel = nullptr;
    // The last symbol another device sent through the broker, and what became of it; hidden
    // until one comes.
    QLabel* SentFromAfarLabel = nullptr;

    // --- what the alert actions and the main window use ---
    void QueueSymbol(const QString& listName, const QString& symbol);
    void FlushSymbols(const QString& listName);
    // The list's connector (created with the list when missing).
    TZentrikGenericConnector2X* Connector(const QString& listName);
    void ShowList(const QString& listName);
    void EnsureList(const QString& listName);
    void EnsureListsForActions(const QStringList& actions);
    // A symbol another device sent through the broker: to the list's programs as an alert's
    // selection sends it (at once, without bringing a window forward), and a line here says so.
    // A list that neither exists nor has a program linked is not made for it. True when sent.
    bool SendFromAfar(const QString& listName, const QString& symbol);

    // The connector in front of the panel.
    TZentrikGenericConnector2X* FrontConnector() const;
    // The broker serving this client's lists (not listening when its socket was taken).
    TLinkBroker* Broker() const { return LinkBroker; }

    void RefreshNames();
    void UpdateButtons();
    // What showing the window does first (its main list exists, its lists and the shown list
    // are current); the main window calls it at start-up without showing the window.
    void FormShow();
    QString NextFreeListName() const { return ListNames.NextFreeName(); }

    // --- handlers ---
    void CreateNewListButtonClick();
    void DeleteButtonClick();
    void RenameButtonClick();
    void ListNameComboBoxSelect();

signals:
    // DisplayNames changed; an open Actions dialog takes them over.
    void DisplayNamesChanged();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    virtual void FormKeyUp(int& key, Qt::KeyboardModifiers shift);

private:
    void FormCreate();
    void FormDestroy();
    TExternalLinkList::TConnector MakeConnector(const QString& name);
    // The name screen readers give the area of the list's linked programs.
    static QString ConnectorName(const QString& listName);
    // Sets the combo box's items when they differ, keeping the shown name when it is still
    // there.
    void SetComboNames();
    void SelectName(const QString& name);

    QStackedLayout* ConnectorsStack = nullptr;
    TLinkBroker* LinkBroker = nullptr;
    std::shared_ptr<ISimConnectorLink> InstalledLink;
    bool KeyPreview = false;
};
