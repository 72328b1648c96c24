#pragma once

// The inbox's settings, kept in the per-user store under SettingsKeyPath() + "\Settings\Inbox".

#include <QString>

#include <cstdint>

class TSettingsStore;

struct TInboxSettings {
    bool Enabled = false;
    quint16 Port = 8731;
    QString Token; // the secret in the webhook address; empty until the inbox is first enabled
    // Why the token kept in the desktop's keyring cannot be read now ("the keyring is locked"),
    // empty when it was read or there is none. Such a token is never replaced by a new one:
    // every program holding the address would be refused for good.
    QString TokenProblem;
    bool OpenNewWindows = true;
    // How many windows of new strategies the inbox may open in any minute; alerts of further
    // new strategies go to the catch-all window. 0: every new strategy goes there.
    int MaxNewWindowsPerMinute = 20;
};

// SettingsKeyPath() + "\Settings\Inbox".
QString InboxSettingsPath();
// A stored port outside 1..65535, or MaxNewWindowsPerMinute outside 0..1000, reads as the
// default.
TInboxSettings ReadInboxSettings(const TSettingsStore& store);
// A token that could not be read (TokenProblem, Token empty) is left where it is.
void WriteInboxSettings(const TSettingsStore& store, const TInboxSettings& settings);

// 160 bits from the system's cryptographically strong source, as 40 lowercase hex digits (safe
// in an address path as it is).
QString NewInboxToken();
// Gives an enabled inbox without a token a new one; true when it did (the caller saves). One
// whose token cannot be read now gets none.
bool EnsureInboxToken(TInboxSettings& settings);
// "http://127.0.0.1:<port>/alerts/<token>". Anyone who has it can post alerts.
QString InboxWebhookAddress(const TInboxSettings& settings);
