#include "zkURLHandler.h"

#include "account/zkLoginForm.h"
#include "alerts/zkAlertDesk.h"
#include "alerts/zkAlertForm.h"
#include "components/zkComponentWrappers.h"
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "desk/zkWindowDesk.h"
#include "platform/zkErrors.h"

TStringMap ParseURLParameters(const QString& text) {
    TStringMap parameters;
    QString rest = text;
    while (!rest.isEmpty()) {
        const qsizetype amp = rest.indexOf(QLatin1Char('&'));
        const QString piece = amp < 0 ? rest : rest.left(amp);
        rest = amp < 0 ? QString() : rest.mid(amp + 1);
        const qsizetype eq = piece.indexOf(QLatin1Char('='));
        if (eq >= 0)
            parameters.append({piece.left(eq), piece.mid(eq + 1)});
    }
    return parameters;
}

QString FindMapValue(const TStringMap& parameters, const QString& name) {
    for (const TStringMapItem& item : parameters)
        if (item.Name == name)
            return item.Value;
    return QString();
}

namespace {
void NewAlertWindowCommand(IAlertDesk* desk, const QString& rest, const TStringMap& parameters) {
    if (!desk)
        return;
    // Unlike the menu command, the lists the actions name are made on first use.
    TAlertForm* window = desk->NewAlertWindow();
    if (!rest.isEmpty())
        window->ZentrikWindowX->SetDataConfig(rest);
    window->OfferRulesMenu();
    const QString windowConfig = FindMapValue(parameters, QStringLiteral("WindowConfig"));
    if (!windowConfig.isEmpty())
        window->ZentrikWindowX->SetWindowConfig(windowConfig);
}

void LoginCommand(TLoginForm* login, const TStringMap& parameters) {
    const QString user = FindMapValue(parameters, QStringLiteral("UserName"));
    if (user.isEmpty())
        return;
    if (login)
        login->LoginWith(user, FindMapValue(parameters, QStringLiteral("Password")));
}
} // namespace

void HandleURL(const QString& url, const TURLCommandTargets& targets) {
    const qsizetype scheme = url.indexOf(QStringLiteral("://"));
    if (scheme < 0)
        return;
    const QString afterScheme = url.mid(scheme + 3);
    const qsizetype slash = afterScheme.indexOf(QLatin1Char('/'));
    if (slash < 0)
        return;
    const QString command = afterScheme.left(slash);
    QString rest = afterScheme.mid(slash + 1);
    TStringMap parameters;
    const qsizetype question = rest.indexOf(QLatin1Char('?'));
    if (question >= 0) {
        rest = rest.mid(question + 1);
        parameters = ParseURLParameters(rest);
    }
    if (command == QLatin1String("NewAlertWindow"))
        NewAlertWindowCommand(targets.Alerts, rest, parameters);
    else if (command == QLatin1String("Login"))
        LoginCommand(targets.Login, parameters);
}

QString URLHandlerKey() {
    return SettingsKeyPath() + QStringLiteral("\\URL Handler");
}

void PollURLHandler(const TURLCommandTargets& targets) {
    TUserStore& store = TUserStore::Instance();
    const QString key = URLHandlerKey();
    QString url;
    try {
        // Read and empty in one transaction, so a link another launch writes in between is
        // not wiped out unseen; an already empty mailbox costs no write.
        TUserStoreBatch batch(store);
        TStoreValue value;
        const bool found = store.GetValue(key, QString(), value);
        if (found && value.Kind == TValueKind::Sz)
            url = value.Text;
        if (!found || value.Kind != TValueKind::Sz || !url.isEmpty())
            store.SetValue(key, QString(), TStoreValue::Sz(QString()));
        batch.Commit();
    } catch (const EStoreError& e) {
        // This runs every second: a store that fails says so once, not in a box per tick.
        static bool reported = false;
        if (!reported)
            qWarning("velquist: the URL handler mailbox cannot be read: %s",
                     qPrintable(e.message()));
        reported = true;
        return;
    }
    if (url.isEmpty())
        return;
    if (targets.Alerts)
        targets.Alerts->Windows().BringMainWindowForward();
    HandleURL(url, targets);
}
