// Action strings, as they come from alert-window files, layouts and the per-user store: the
// input is a list of lines. Splitting must give back the text it split; parsing either raises
// the conversion error or yields rows of decimal triggers and kinds, with a selection entry on
// the program's selection trigger and a marker standing for the layout default list; reading
// the link lists an action list names must agree with the parse, and the link lists must take
// any name.
#include "alerts/zkActions.h"
#include "linking/zkExternalLinks.h"
#include "platform/zkErrors.h"
#include "zkFuzzCheck.h"

#include <cstdint>
#include <cstdlib>

namespace {

bool IsDecimal(const QString& text) {
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok && QString::number(value) == text;
}

void CheckSplit(const QString& action) {
    const TActionFields f = SplitAction(action);
    const qsizetype commas = action.count(QLatin1Char(','));
    if (commas == 0)
        Check(f.Trigger == action && f.Kind.isEmpty() && f.Parameter.isEmpty());
    else if (commas == 1)
        Check(f.Trigger + QLatin1Char(',') + f.Kind == action && f.Parameter.isEmpty());
    else
        Check(f.Trigger + QLatin1Char(',') + f.Kind + QLatin1Char(',') + f.Parameter == action);
    Check(!f.Trigger.contains(QLatin1Char(',')) && !f.Kind.contains(QLatin1Char(',')));
}

void CheckTable(const TActionTable& table, qsizetype limit) {
    Check(table.Trigger.size() == table.Kind.size());
    Check(table.Kind.size() == table.Parameter.size());
    Check(table.Count() <= limit);
    const QString selection = QString::number(SelectionTrigger());
    for (qsizetype i = 0; i < table.Count(); ++i) {
        Check(IsDecimal(table.Trigger[i]) && IsDecimal(table.Kind[i]));
        // No selection send keeps its own trigger, and no marker reaches the table.
        if (table.Kind[i] == QLatin1String("4") &&
            (table.Trigger[i] == QLatin1String("2") || table.Trigger[i] == QLatin1String("3")))
            Check(table.Trigger[i] == selection);
        Check(!(table.Trigger[i] == QLatin1String("0") &&
                (table.Kind[i] == QLatin1String("0") || table.Kind[i] == QLatin1String("1"))));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 64 * 1024)
        return 0;
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QStringList lines = text.split(QLatin1Char('\n'));
    // The first half plays the program-wide lists, the whole the window's list.
    const qsizetype half = lines.size() / 2;
    LayoutDefaultActions() = lines.mid(0, half);
    DefaultWindowActions() = lines.mid(half);
    const int32_t selection = SelectionTrigger();
    Check(selection == 2 || selection == 3);

    for (const QString& line : lines)
        CheckSplit(line);

    TActionTable table;
    bool parsed = true;
    try {
        ParseActions(lines, table);
    } catch (const EConvertError&) {
        parsed = false;
    }
    CheckTable(table, qMax(lines.size(), LayoutDefaultActions().size()));
    if (parsed) {
        // A second parse of the same list gives the same table.
        TActionTable again;
        ParseActions(lines, again);
        Check(again.Trigger == table.Trigger && again.Kind == table.Kind &&
              again.Parameter == table.Parameter);
    }

    QStringList named;
    bool listed = true;
    try {
        ForEachListOfActions(lines, [&named](const QString& name) { named << name; });
    } catch (const EConvertError&) {
        listed = false;
    }
    // Both read the same two fields of each string; the lister reads past a marker too. So
    // with a harmless layout list, a failed parse means a failed listing.
    LayoutDefaultActions().clear();
    bool parsedOwn = true;
    try {
        TActionTable own;
        ParseActions(lines, own);
    } catch (const EConvertError&) {
        parsedOwn = false;
    }
    Check(parsedOwn || !listed);

    TExternalLinkList links(nullptr);
    TLinkListNames names;
    for (const QString& name : std::as_const(named)) {
        links.QueueSymbol(name, QStringLiteral("SYM"));
        const QString effective = EffectiveListName(name);
        Check(!effective.isEmpty() && effective == effective.trimmed());
        Check(links.Find(effective) != nullptr);
        if (!names.Contains(effective))
            names.Add(effective);
    }
    for (const QString& name : std::as_const(named))
        links.FlushSymbols(name);
    for (qsizetype i = 0; i < links.Count(); ++i)
        Check(links.Item(i)->PendingSymbols.isEmpty());
    Check(!names.Contains(names.NextFreeName()));
    for (qsizetype i = 1; i < names.Names().size(); ++i)
        Check(names.Names()[i - 1].compare(names.Names()[i], Qt::CaseInsensitive) <= 0);
    return 0;
}
