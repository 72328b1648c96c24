#include "zkActions.h"

#include "config/zkSettings.h"
#include "config/zkWindowRecord.h"
#include "platform/zkErrors.h"

#include <QCoreApplication>

namespace {

const QString kActionsCount = QStringLiteral("ActionsCount");

QString actionKey(qsizetype index) {
    return QStringLiteral("Action") + QString::number(index);
}

// No dialog makes more than four actions; a damaged count must not make us build millions.
constexpr int32_t kMaxActionsRead = 10000;

bool isMarker(int32_t trigger, int32_t kind) {
    return trigger == 0 && (kind == 0 || kind == 1);
}

void parseInto(const QStringList& actions, TActionTable& table, bool markerAllowed) {
    for (const QString& action : actions) {
        const TActionFields fields = SplitAction(action);
        int32_t trigger = ActionInteger(fields.Trigger);
        const int32_t kind = ActionInteger(fields.Kind);
        if (isMarker(trigger, kind)) {
            // Inside LayoutDefaultActions a marker would point at the list itself and never
            // end; there it is skipped.
            if (!markerAllowed)
                continue;
            table.Clear();
            const QStringList layoutDefaults = LayoutDefaultActions();
            parseInto(layoutDefaults, table, false);
            return;
        }
        if ((trigger == 2 || trigger == 3) && (kind == 4 || kind == 6))
            trigger = SelectionTrigger();
        table.Append(QString::number(trigger), QString::number(kind), fields.Parameter);
    }
}

} // namespace

int ActionKindValue(const QString& kind) {
    bool ok = false;
    const int value = kind.toInt(&ok);
    return ok ? value : 0;
}

void TActionTable::Clear() {
    Trigger.clear();
    Kind.clear();
    Parameter.clear();
    OnEachAlert.clear();
    KindValue.clear();
}

void TActionTable::Append(const QString& trigger, const QString& kind, const QString& parameter) {
    Trigger.append(trigger);
    Kind.append(kind);
    Parameter.append(parameter);
    OnEachAlert.append(trigger.trimmed() == QLatin1String("1"));
    KindValue.append(ActionKindValue(kind));
}

void TPendingActions::Clear() {
    KindValue.clear();
    Parameter.clear();
}

void TPendingActions::Append(int kindValue, const QString& parameter) {
    KindValue.append(kindValue);
    Parameter.append(parameter);
}

void ParseActions(const QStringList& actions, TActionTable& table) {
    table.Clear();
    // A copy: the list may be one of the program-wide lists the marker reads.
    const QStringList list = actions;
    parseInto(list, table, true);
}

int32_t SelectionTrigger() {
    int32_t result = 2;
    for (const QString& action : DefaultWindowActions()) {
        QString field, rest;
        SplitActionField(action, field, rest);
        int32_t trigger = 0;
        if (TryParseIntegerText(field, trigger) && (trigger == 2 || trigger == 3))
            result = trigger;
    }
    return result;
}

namespace {
// A selection entry sends the symbol (kind 4) or publishes the alert (kind 6) on a click or
// double-click: trigger 2 or 3. Both follow the one choice, or a stale publishing entry, the
// list's last, would take the choice back.
bool IsSelectionEntry(const QString& action, int32_t& trigger) {
    const TActionFields fields = SplitAction(action);
    int32_t kind = 0;
    return TryParseIntegerText(fields.Trigger, trigger) && TryParseIntegerText(fields.Kind, kind) &&
           (trigger == 2 || trigger == 3) && (kind == 4 || kind == 6);
}

// The trigger of the list's last selection entry; 0 when it has none.
int32_t SelectionEntryTrigger(const QStringList& actions) {
    int32_t result = 0;
    for (const QString& action : actions) {
        int32_t trigger = 0;
        if (IsSelectionEntry(action, trigger))
            result = trigger;
    }
    return result;
}
} // namespace

void SetSelectionTrigger(QStringList& actions, int32_t trigger) {
    for (QString& action : actions) {
        int32_t old = 0;
        if (!IsSelectionEntry(action, old))
            continue;
        const TActionFields fields = SplitAction(action);
        QString rewritten = QString::number(trigger) + QLatin1Char(',') + fields.Kind;
        if (action.count(QLatin1Char(',')) >= 2)
            rewritten += QLatin1Char(',') + fields.Parameter;
        action = rewritten;
    }
}

QStringList ReadActionsRecord(const TSettingsStore& store, const QString& path,
                              const QStringList& defaults) {
    const QStringList d = defaults;
    const int32_t count = ReadIntegerValue(store, path, kActionsCount, 0);
    // No count (or a meaningless one): the record is not there.
    if (count <= 0)
        return d;
    const QString missing = d.isEmpty() ? QString() : d.first();
    const int32_t n = qMin(count, kMaxActionsRead);
    QStringList result;
    result.reserve(n);
    for (int32_t i = 0; i < n; ++i)
        result.append(ReadStringValue(store, path, actionKey(i), missing));
    return result;
}

void WriteActionsRecord(const TSettingsStore& store, const QString& path, const QStringList& list) {
    for (qsizetype i = 0; i < list.size(); ++i)
        WriteStringValue(store, path, actionKey(i), list[i]);
    WriteIntegerValue(store, path, kActionsCount, static_cast<int32_t>(list.size()));
}

QString InitialDefaultAction() {
    return QStringLiteral("2,4,MAIN LIST");
}

QStringList& DefaultWindowActions() {
    static QStringList list{InitialDefaultAction()};
    return list;
}

QStringList& LayoutDefaultActions() {
    static QStringList list{InitialDefaultAction()};
    return list;
}

void CreateDefaultActionLists() {
    DefaultWindowActions() = QStringList{InitialDefaultAction()};
    LayoutDefaultActions() = QStringList{InitialDefaultAction()};
}

QString LayoutDefaultActionsKey() {
    return SettingsKeyPath() + QStringLiteral("\\Settings\\Layout\\Actions");
}

void LoadDefaultActionLists() {
    const TSettingsStore registry = TSettingsStore::Registry();
    // As the reader sees it: a record without a count is no record.
    const bool stored = ReadIntegerValue(registry, LayoutDefaultActionsKey(), kActionsCount, 0) > 0;
    LayoutDefaultActions() =
        ReadActionsRecord(registry, LayoutDefaultActionsKey(), LayoutDefaultActions());
    EnsureSavedWindowsDir();
    const QString fileName = DefaultWindowFileName();
    if (HasAlertWindowSection(fileName)) {
        DefaultWindowActions() = ReadActionsRecord(
            TSettingsStore::IniFile(fileName), AlertWindowSectionName(), DefaultWindowActions());
    } else if (const int32_t kept = stored ? SelectionEntryTrigger(LayoutDefaultActions()) : 0) {
        // No default window file (a fresh installation has none), so nothing stores
        // DefaultWindowActions and the click choice would fall back to double-click at the
        // next start. The options dialog saves the same choice into the per-user list.
        SetSelectionTrigger(DefaultWindowActions(), kept);
    }
}

void SaveDefaultActionLists() {
    {
        const TSettingsStore registry = TSettingsStore::Registry();
        TSettingsBatch batch(registry);
        WriteActionsRecord(registry, LayoutDefaultActionsKey(), LayoutDefaultActions());
        batch.Commit();
    }
    const QString fileName = DefaultWindowFileName();
    if (HasAlertWindowSection(fileName)) {
        const TSettingsStore file = TSettingsStore::IniFile(fileName);
        TSettingsBatch batch(file);
        WriteActionsRecord(file, AlertWindowSectionName(), DefaultWindowActions());
        batch.Commit();
    }
}
