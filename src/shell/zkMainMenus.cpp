// The main window's menus: the items, the Help menu's configured entries and the dialogs the
// items open.

#include "zkMainForm.h"

#include "account/zkLoginForm.h"
#include "alerts/zkActionsForm.h"
#include "alerts/zkAlertForm.h"
#include "components/zkComponents.h"
#include "config/zkConfig.h"
#include "history/zkAlertHistoryForm.h"
#include "linking/zkGenericConnectorForm.h"
#include "options/zkOptionsForm.h"
#include "platform/zkShell.h"
#include "shell/zkAboutForm.h"
#include "shell/zkLayouts.h"
#include "shell/zkStartup.h"
#include "symbollists/zkSymbolListsForm.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>

#include <cstdio>
#include <utility>

void TZentrikProMainForm::ChooseMenuItems(const QStringList& names) {
    if (names.isEmpty())
        return;
    QTimer::singleShot(300, this, [this, names] {
        auto* item = findChild<QAction*>(names.first());
        if (!item)
            return;
        // Runs inside the event loop of the dialog the command opens, if it opens one.
        QTimer::singleShot(300, this, [this, names] {
            QWidget* modal = QApplication::activeModalWidget();
            fprintf(stderr, "velquist test: %s running, modal %s\n", qPrintable(names.first()),
                    modal ? modal->metaObject()->className() : "none");
            fflush(stderr);
            if (names.size() == 1)
                return;
            // Not the last one: its dialog is cancelled and the next item comes.
            if (auto* dialog = qobject_cast<QDialog*>(modal))
                dialog->reject();
            ChooseMenuItems(names.mid(1));
        });
        item->trigger();
    });
}

void TZentrikProMainForm::CreateMenus() {
    auto addItem = [this](QMenu* menu, QAction*& item, const QString& caption, const char* name,
                          auto slot) {
        item = menu->addAction(caption);
        item->setObjectName(QString::fromLatin1(name));
        connect(item, &QAction::triggered, this, slot);
    };
    FileMenu = menuBar()->addMenu(tr("&File"));
    FileMenu->setObjectName(QStringLiteral("FileMenu"));
    addItem(FileMenu, LoginMenuItem, tr("&Login..."), "LoginMenuItem",
            [this] { LoginMenuItemClick(); });
    addItem(FileMenu, ResetConnectionMenuItem, tr("Reset Connection"), "ResetConnectionMenuItem",
            [this] {
                if (Connection)
                    Connection->ResetConnection();
            });
    FileMenu->addSeparator();
    addItem(FileMenu, NewAlertWindowMenuItem, tr("New Alert Window"), "NewAlertWindowMenuItem",
            [this] {
                TAlertForm* w = NewAlertWindow();
                if (ConnectorForm)
                    ConnectorForm->EnsureListsForActions(w->Actions);
            });
    addItem(FileMenu, LoadAlertWindowMenuItem, tr("Load Alert Window..."),
            "LoadAlertWindowMenuItem", [this] { LoadAlertWindowDialog(*this); });
    FileMenu->addSeparator();
    addItem(FileMenu, SaveLayoutMenuItem, tr("Save Layout..."), "SaveLayoutMenuItem",
            [this] { SaveLayoutDialog(*this); });
    addItem(FileMenu, RestoreLayoutMenuItem, tr("Restore Layout..."), "RestoreLayoutMenuItem",
            [this] { RestoreLayoutDialog(*this); });
    FileMenu->addSeparator();
    addItem(FileMenu, ExitMenuItem, tr("Exit"), "ExitMenuItem", [this] { ExitMenuItemClick(); });

    ToolsMenu = menuBar()->addMenu(tr("&Tools"));
    ToolsMenu->setObjectName(QStringLiteral("ToolsMenu"));
    addItem(ToolsMenu, SymbolListsMenuItem, tr("Symbol Lists..."), "SymbolListsMenuItem", [this] {
        if (!SymbolListsForm)
            return;
        SymbolListsForm->setWindowState(SymbolListsForm->windowState() & ~Qt::WindowMinimized &
                                        ~Qt::WindowMaximized);
        SymbolListsForm->show();
        // Already open behind other windows: bring it forward.
        SymbolListsForm->raise();
        SymbolListsForm->activateWindow();
    });
    addItem(ToolsMenu, ExternalLinkingMenuItem, tr("External Linking..."),
            "ExternalLinkingMenuItem", [this] {
                if (!ConnectorForm)
                    return;
                ConnectorForm->setWindowState(ConnectorForm->windowState() & ~Qt::WindowMinimized &
                                              ~Qt::WindowMaximized);
                ConnectorForm->show();
                // Already open behind other windows: bring it forward.
                ConnectorForm->raise();
                ConnectorForm->activateWindow();
            });
    addItem(ToolsMenu, AlertHistoryMenuItem, tr("Alert History..."), "AlertHistoryMenuItem",
            [this] {
                if (TAlertHistoryForm* history = AlertHistoryWindow())
                    BringWindowForward(history, true);
            });
    addItem(ToolsMenu, MuteSoundsMenuItem, tr("Mute Sounds"), "MuteSoundsMenuItem",
            [this](bool checked) { SetSoundsMuted(checked); });
    MuteSoundsMenuItem->setCheckable(true);
    ToolsMenu->addSeparator();
    addItem(ToolsMenu, OptionsMenuItem, tr("Options..."), "OptionsMenuItem",
            [this] { OptionsMenuItemClick(); });

    HelpMenu = menuBar()->addMenu(tr("&Help"));
    HelpMenu->setObjectName(QStringLiteral("HelpMenu"));
    // Qt hides a separator that leads a menu; this one stands above "About..." even when no
    // help entries are configured.
    HelpMenu->setSeparatorsCollapsible(false);
    HelpSeparator = HelpMenu->addSeparator();
    addItem(HelpMenu, AboutMenuItem, tr("About..."), "AboutMenuItem",
            [this] { AboutMenuItemClick(); });
}

void TZentrikProMainForm::BuildHelpMenu() {
    for (QAction* a : std::as_const(HelpItems)) {
        HelpMenu->removeAction(a);
        delete a;
    }
    HelpItems.clear();
    HelpURLs.clear();
    bool cut = false;
    std::vector<THelpEntry> entries = HelpEntries(ConfigInfo().HelpURLList, MaxHelpEntries, &cut);
    if (cut)
        std::fprintf(stderr,
                     "velquist: HelpURLList has more than %zu entries; the Help menu shows "
                     "the first %zu\n",
                     MaxHelpEntries, MaxHelpEntries);
    for (THelpEntry& entry : entries) {
        auto* item = new QAction(entry.Caption, HelpMenu);
        const qsizetype index = HelpURLs.size();
        HelpItems << item;
        HelpURLs << std::move(entry.Address);
        connect(item, &QAction::triggered, this, [this, index] { OpenLink(HelpURLs.at(index)); });
    }
    HelpMenu->insertActions(HelpSeparator, HelpItems);
    // Leading the menu, the separator lies on the menu's frame, where Fusion (the style Qt
    // picks here) draws it out of sight: a few pixels above it keep it visible.
    HelpMenu->setContentsMargins(0, HelpItems.isEmpty() ? 3 : 0, 0, 0);
}

void TZentrikProMainForm::ShowFirstHelpEntry() {
    const QList<QAction*> items = HelpMenu->actions();
    // Without configured entries the first item is the separator, which does nothing.
    if (!items.isEmpty() && !items.first()->isSeparator())
        items.first()->trigger();
}

void TZentrikProMainForm::LoginMenuItemClick() {
    if (!LoginForm)
        return;
    LoginForm->setWindowState(LoginForm->windowState() & ~Qt::WindowMinimized &
                              ~Qt::WindowMaximized);
    LoginForm->show();
    LoginForm->raise();
    LoginForm->activateWindow();
}

TActionsForm* TZentrikProMainForm::ActionsDialog() {
    // Built when first opened, as the Options dialog: most sessions never edit actions.
    if (!ActionsForm)
        ActionsForm = new TActionsForm(this, this);
    return ActionsForm;
}

void TZentrikProMainForm::OptionsMenuItemClick() {
    // Built when first asked for: most sessions never open it, and start-up need not wait for it.
    TOptionsForm* options = OptionsForm();
    if (!options)
        options = new TOptionsForm(this, this);
    ModalDialogOpen = true;
    struct TClear {
        bool& Flag;
        ~TClear() { Flag = false; }
    } clear{ModalDialogOpen};
    if (options->exec() == QDialog::Accepted)
        for (TAlertForm* w : AlertWindows())
            w->ParseActions();
}

void TZentrikProMainForm::AboutMenuItemClick() {
    // Built when first opened, as the Options dialog is: start-up need not wait for it.
    TAboutForm* about = AboutForm();
    if (!about) {
        about = new TAboutForm(this);
        SetAboutForm(about);
    }
    about->exec();
}
