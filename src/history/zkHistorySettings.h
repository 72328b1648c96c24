#pragma once

#include <cstdint>

class TSettingsStore;

// How many days the alert history keeps ("HistoryDays" under the settings key); 0 keeps none.
constexpr int32_t DefaultHistoryDays = 30;
constexpr int32_t MaxHistoryDays = 3650;

// A stored value outside 0..MaxHistoryDays reads as the default.
int32_t ReadHistoryDays(const TSettingsStore& store);
void WriteHistoryDays(const TSettingsStore& store, int32_t days);
