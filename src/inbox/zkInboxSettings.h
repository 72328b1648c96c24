#pragma once

// The inbox's settings, kept in the per-user store under SettingsKeyPath() + "\Settings\Inbox".

#include <QString>

#include <cstdint>

class TSettingsStore;

struct TInboxSettings {
    bool Enabled = false;
    quint16 Port = 8731;
    QString Token; // the secret in the webhook address; empty until the inbox is first enabled
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
void WriteInboxSettings(const TSettingsStore& store, const TInboxSettings& settings);

// 160 bits from the system's cryptographically strong source, as 40 lowercase hex digits (safe
// in an address path as it is).
QString NewInboxToken();
// Gives an enabled inbox without a token a new one; true when it did (the caller saves).
bool EnsureInboxToken(TInboxSettings& settings);
// "http://127.0.0.1:<port>/alerts/<token>". Anyone who has it can post alerts.
QString InboxWebhookAddress(const TInboxSettings& settings);
