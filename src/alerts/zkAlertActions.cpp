#include "zkAlertActions.h"

#include "alerts/zkActionsForm.h"
#include "alerts/zkAlertDesk.h"
#include "alerts/zkAlertForm.h"
#include "alerts/zkAlertNotifications.h"
#include "alerts/zkSoundPlayForm.h"
#include "alerts/zkSoundSetup.h"
#include "components/zkComponentWrappers.h"
#include "desk/zkAlertPublisher.h"
#include "desk/zkWindowDesk.h"
#include "linking/zkExternalLinks.h"
#include "linking/zkGenericConnectorForm.h"

#include <QCoreApplication>
#include <QPointer>

#include <exception>
#include <optional>
#include <utility>

namespace {

enum TActionKind : int {
    PlaySoundKind = 2,
    ShowWindowKind = 3,
    SendSymbolKind = 4,
    NotifyKind = 5,
    PublishKind = 6,
};

// Set by the alert handlers when some window has work for the idle step, which runs far more
// often than alerts come.
bool AnyWindowPending = false;

TGenericConnectorForm* Connectors(const TAlertForm& form) {
    return form.Desk ? form.Desk->ConnectorWindow() : nullptr;
}

// The sound queue belongs to the hidden sound window.
void EnqueueSound(const QString& setup) {
    if (TSoundPlayForm* sounds = SoundPlayForm())
        sounds->Enqueue(setup);
}

void StartNextSound() {
    if (TSoundPlayForm* sounds = SoundPlayForm())
        sounds->StartNextSound();
}

void MarkPending(TAlertForm& form) {
    form.HasPendingActions = true;
    AnyWindowPending = true;
}

void Publish(TAlertForm& form, IAlertData& alert) {
    if (IAlertPublisher* publisher = form.Desk ? form.Desk->AlertPublisher() : nullptr)
        publisher->PublishAlert(form.ZentrikWindowX->WindowName(), alert);
}

} // namespace

void NewAlertActions(TAlertForm& form, IAlertData& alert) {
    if (alert.SkipFlag() != 0)
        return;
    if (form.Desk)
        form.Desk->CountNewAlert();
    TPendingActions& pending = form.PendingActions;
    const TActionTable& table = form.ActionTable;
    const qsizetype first = pending.Count();
    // In the window's quiet hours its alerts neither sound nor notify; they still come in,
    // raise the window and go to their link lists.
    const bool quiet = form.Quiet.IsQuietNow();
    bool notified = false;
    bool published = false;
    // An emphasised alert sounds the emphasis rule's own file, when it names one, instead of
    // the window's sounds: once, as loud and placed as the window's first sound.
    std::optional<TSoundSetup> ownSound;
    if (alert.IsEmphasised())
        if (const TKeepRule* rule = form.KeepRules.EmphasisOn(); rule && !rule->Sound.isEmpty())
            ownSound = TSoundSetup{rule->Sound};
    bool ownSoundPlaced = false;
    for (qsizetype i = 0; i < table.Count(); ++i) {
        if (!table.OnEachAlert[i])
            continue;
        const int kind = table.KindValue[i];
        if (kind == PlaySoundKind && ownSound) {
            if (!ownSoundPlaced) {
                const TSoundSetup windows = ParseSoundSetup(table.Parameter[i]);
                ownSound->Volume = windows.Volume;
                ownSound->Balance = windows.Balance;
                ownSoundPlaced = true;
            }
            continue;
        }
        if (kind == PublishKind && !published) {
            // Alerts that came from the broker are not published back: every desk subscribed
            // has them already, and two desks that both publish would send them to and fro
            // for ever. Published at once, as the alert's texts are only at hand now.
            published = true;
            if (alert.Source() != TAlertSource::Broker)
                Publish(form, alert);
        }
        if (kind == NotifyKind) {
            // Shown at once: the notifier keeps a burst to one notification itself, and the
            // alert's texts are only at hand now. Twice in a list is still one per alert.
            TAlertNotifier* notifier = form.Desk ? form.Desk->AlertNotifications() : nullptr;
            if (notifier && !notified && !quiet)
                notifier->AlertArrived(form, alert);
            notified = true;
        }
        // Entries of other kinds would do nothing here nor in the idle step; left out, they
        // cannot pile up in a window that never has anything else pending.
        if (kind == PlaySoundKind || kind == ShowWindowKind || kind == SendSymbolKind)
            pending.Append(kind, table.Parameter[i]);
    }
    if (ownSound)
        pending.Append(PlaySoundKind, FormatSoundSetup(*ownSound));
    // "Mute Sounds" and quiet hours: the alert's sounds are dropped, not kept for later.
    const bool muted = quiet || (form.Desk && form.Desk->Windows().SoundsAreMuted());
    // Only what this alert appended: the entries earlier alerts left were acted on when those
    // came, and acting on them again would send their symbols once more for every later alert.
    for (qsizetype i = first; i < pending.Count(); ++i) {
        switch (pending.KindValue[i]) {
        case PlaySoundKind:
            if (!muted)
                EnqueueSound(pending.Parameter[i]);
            MarkPending(form);
            break;
        case ShowWindowKind:
            MarkPending(form);
            break;
        case SendSymbolKind:
            if (TGenericConnectorForm* connectors = Connectors(form))
                connectors->QueueSymbol(pending.Parameter[i], alert.AlertSymbol());
            MarkPending(form);
            break;
        default:
            break;
        }
    }
}

namespace {

// The selection action of the trigger ("3" click, "2" double-click).
void SelectionActions(TAlertForm& form, IAlertData& alert, QLatin1String trigger) {
    const TActionTable& table = form.ActionTable;
    const qsizetype row = table.Trigger.indexOf(trigger);
    if (row < 0)
        return;
    TPendingActions& pending = form.PendingActions;
    pending.Append(table.KindValue[row], table.Parameter[row]);
    // A selection only sends; it never plays a sound.
    if (pending.KindValue.last() == SendSymbolKind) {
        if (TGenericConnectorForm* connectors = Connectors(form))
            connectors->QueueSymbol(pending.Parameter.last(), alert.AlertSymbol());
        MarkPending(form);
    }
    // Publishing on a selection sits beside the send (the first row), not in its place; the
    // user picked this alert, wherever it came from.
    for (qsizetype i = 0; i < table.Count(); ++i)
        if (table.KindValue[i] == PublishKind && table.Trigger[i] == trigger) {
            Publish(form, alert);
            break;
        }
}

} // namespace

void SelectedAlertActions(TAlertForm& form, IAlertData& alert) {
    switch (form.ZentrikWindowX->AlertSelectionType()) {
    case 1:
        SelectionActions(form, alert, QLatin1String("3"));
        break;
    case 2:
        SelectionActions(form, alert, QLatin1String("2"));
        break;
    default:
        break;
    }
}

void EnteredAlertActions(TAlertForm& form, IAlertData& alert) {
    // Parsing gave every selection entry of the window the program's trigger.
    SelectionActions(form, alert,
                     SelectionTrigger() == 3 ? QLatin1String("3") : QLatin1String("2"));
}

void ProcessPendingActions(IAlertDesk& desk) {
    IWindowDesk& windows = desk.Windows();
    if (!windows.SoundsAreSuspended())
        StartNextSound();
    if (!AnyWindowPending)
        return;
    // Cleared before acting: a window marked while this step runs (inside an event loop an
    // action opened) is seen by the next step. An error part-way leaves it set, so the windows
    // not reached yet are handled then rather than at their next alert.
    AnyWindowPending = false;
    struct TKeepOnError {
        const int Uncaught = std::uncaught_exceptions();
        ~TKeepOnError() {
            if (std::uncaught_exceptions() > Uncaught)
                AnyWindowPending = true;
        }
    } keepOnError;
    const bool modal = windows.ModalDialogIsOpen();
    TGenericConnectorForm* connectors = desk.ConnectorWindow();
    // The list handled last in this step. Nothing queues symbols during the step, so handling
    // the same list again would send nothing and show what is shown already, unless a window
    // was raised over the connector window since.
    QString lastList;
    bool haveLastList = false;
    QPointer<QWidget> lastForward;
    QList<TAlertForm*> forms = desk.AlertWindows();
    for (qsizetype at = 0; at < forms.size(); ++at) {
        TAlertForm* form = forms.at(at); // read only: the copy stays shared with the list
        if (!form->HasPendingActions)
            continue;
        // Taken out before acting: an error part-way ends this window's step once, rather than
        // at every idle moment after.
        const TPendingActions pending = std::exchange(form->PendingActions, TPendingActions());
        form->HasPendingActions = false;
        bool raised = form->Closing; // a closed window stays closed; its symbols still go
        for (qsizetype i = 0; i < pending.Count(); ++i) {
            switch (pending.KindValue[i]) {
            case ShowWindowKind:
                if (!modal && !raised) {
                    lastForward = form; // first: it goes if the window does
                    windows.BringWindowForward(form, false);
                    raised = true;
                    haveLastList = false;
                }
                break;
            case SendSymbolKind: {
                if (!connectors)
                    break;
                const QString list = EffectiveListName(pending.Parameter[i]);
                if (haveLastList && list == lastList)
                    break;
                lastList = list;
                haveLastList = true;
                connectors->FlushSymbols(list);
                if (modal)
                    break;
                TZentrikGenericConnector2X* connector = connectors->Connector(list);
                if (connector && connector->LinkCount() == 0) {
                    lastForward = connectors;
                    windows.BringWindowForward(connectors, false);
                    connectors->ShowList(list);
                }
                break;
            }
            default:
                break; // sounds were queued when the alert came
            }
        }
        // What was done may have closed or opened windows (an event loop run by an action): go
        // on over the windows there are now. Those handled already have nothing pending.
        const QList<TAlertForm*> now = desk.AlertWindows();
        if (now.constData() != forms.constData()) {
            forms = now;
            at = -1;
        }
    }
    if (lastForward && !lastForward->isActiveWindow())
        lastForward->activateWindow();
}

void RecheckPendingActions(const TAlertForm& form) {
    if (form.HasPendingActions)
        AnyWindowPending = true;
}

void EditWindowActions(TAlertForm& form) {
    IAlertDesk* desk = form.Desk;
    TActionsForm* dialog = desk ? desk->ActionsDialog() : nullptr;
    if (!dialog)
        return;
    const TModalDialogScope modal(&desk->Windows());
    const QPointer<TAlertForm> window = &form;
    dialog->setWindowState(dialog->windowState() &
                           ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
    dialog->Actions = form.Actions;
    dialog->setWindowTitle(QCoreApplication::translate("TActionsForm", "Alert Window Actions"));
    // The window may close while the dialog is open; then there is nothing to update.
    if (dialog->exec() == QDialog::Accepted && window)
        window->SetActions(dialog->Actions);
}
