#pragma once

#include <QList>
#include <QString>

// Commands handed over by web links through the per-user mailbox: a later launch writes the
// link (the text after "/url:") into the default value of "\URL Handler" below the settings
// key path, and the running client takes it on its next one-second tick.

// One URL parameter; names and values are used exactly as written (no percent-decoding).
struct TStringMapItem {
    QString Name;
    QString Value;
    bool operator==(const TStringMapItem& o) const { return Name == o.Name && Value == o.Value; }
};
using TStringMap = QList<TStringMapItem>;

// "a=1&b=x=y&junk" -> (a,1), (b,x=y); pieces without "=" are skipped.
TStringMap ParseURLParameters(const QString& text);
// The value of the first pair with exactly that name; empty when there is none.
QString FindMapValue(const TStringMap& parameters, const QString& name);

class IAlertDesk;
class TLoginForm;

// Where the commands act; either may be absent (nullptr), and then its command does nothing.
struct TURLCommandTargets {
    IAlertDesk* Alerts = nullptr; // NewAlertWindow, and the main window brought forward
    TLoginForm* Login = nullptr;  // Login
};

// Carries out one link: "<scheme>://NewAlertWindow/<data config>" or
// "<scheme>://Login/?UserName=..&Password=..". Anything else is ignored.
void HandleURL(const QString& url, const TURLCommandTargets& targets);

// The path of the mailbox key.
QString URLHandlerKey();
// Takes the mailbox's link (emptying it) and carries it out.
void PollURLHandler(const TURLCommandTargets& targets);
