#pragma once

#include "config/zkActionFields.h"

#include <QString>
#include <QStringList>

#include <cstdint>

class TSettingsStore;

// An action string is "trigger,kind,parameter": trigger and kind are integers, the parameter
// is everything after the second comma (commas included) and may be absent.
//   trigger 1 each new alert, 2 double-click selection, 3 click selection;
//           0 with kind 0 or 1 is the marker "use LayoutDefaultActions instead of this list"
//   kind    2 play sound (parameter: sound setup), 3 bring the window forward,
//           4 send the symbol to a link list (parameter: list name, empty = "MAIN LIST"),
//           5 show a desktop notification (no parameter; "1,5")
//           6 publish the alert to the message broker (no parameter; "1,6" on each alert,
//             "2,6" or "3,6" on a selection, which follows the selection trigger as kind 4 does)

// Trigger, kind and parameter of each action in force, one row per action, as text; beside
// them what each alert asks of a row, worked out once here rather than at every alert.
struct TActionTable {
    QStringList Trigger;
    QStringList Kind;
    QStringList Parameter;
    QList<bool> OnEachAlert; // the trigger is 1
    QList<int> KindValue;    // the kind as a number, 0 when it is none

    void Clear();
    void Append(const QString& trigger, const QString& kind, const QString& parameter);
    qsizetype Count() const { return Trigger.size(); }
};

// Kind and parameter of actions the alert handlers left for the idle step.
struct TPendingActions {
    QList<int> KindValue; // as in TActionTable
    QStringList Parameter;

    void Clear();
    void Append(int kindValue, const QString& parameter);
    qsizetype Count() const { return KindValue.size(); }
    bool IsEmpty() const { return KindValue.isEmpty(); }
};

// An action's kind text as a number; 0 when it is not one.
int ActionKindValue(const QString& kind);

// Empties the table and parses the action strings into it. A marker entry rebuilds the table
// from LayoutDefaultActions instead; a selection entry (trigger 2 or 3, kind 4) takes the
// current selection trigger. A string whose trigger or kind is not an integer raises
// EConvertError, leaving the rows parsed before it.
void ParseActions(const QStringList& actions, TActionTable& table);

// The program-wide choice between click (3) and double-click (2) selection: the first field of
// the last entry of DefaultWindowActions that starts with 2 or 3; 2 when there is none.
int32_t SelectionTrigger();
// Rewrites every selection entry (trigger 2 or 3, kind 4 or 6) of the list to the trigger given:
// trigger, kind and, when the entry had one, its parameter. Other entries stay as they are.
void SetSelectionTrigger(QStringList& actions, int32_t trigger);

// The actions record: "Action0", "Action1", ... and "ActionsCount".
// Reading returns the defaults when there is no count; a missing single value reads as the
// first default.
QStringList ReadActionsRecord(const TSettingsStore& store, const QString& path,
                              const QStringList& defaults);
// Values left from a longer list stay; ActionsCount makes readers ignore them.
void WriteActionsRecord(const TSettingsStore& store, const QString& path, const QStringList& list);

// The two program-wide lists: the actions every new alert window starts with, and the list a
// marker entry stands for. Both start as "2,4,MAIN LIST".
QStringList& DefaultWindowActions();
QStringList& LayoutDefaultActions();
QString InitialDefaultAction();
// Puts both lists back to their initial content (the main window does it when it is created).
void CreateDefaultActionLists();
// The per-user key of LayoutDefaultActions: settings key path + "\Settings\Layout\Actions".
QString LayoutDefaultActionsKey();
// LayoutDefaultActions from the per-user store, DefaultWindowActions from DEFAULT_WINDOW.zka
// when that has a section "AlertWindow"; a store without the record keeps the list as it is.
// Without that file the selection entries of DefaultWindowActions take the trigger of the
// stored per-user list's selection entries, which is where the click choice is then kept.
void LoadDefaultActionLists();
// LayoutDefaultActions to the per-user store; DefaultWindowActions to DEFAULT_WINDOW.zka only
// when that file already exists with a section "AlertWindow".
void SaveDefaultActionLists();
