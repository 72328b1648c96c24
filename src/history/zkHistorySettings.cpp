#include "zkHistorySettings.h"

#include "config/zkSettings.h"

namespace {

const QString HistoryDaysName = QStringLiteral("HistoryDays");

} // namespace

int32_t ReadHistoryDays(const TSettingsStore& store) {
    const int32_t days =
        ReadIntegerValue(store, SettingsValuesPath(), HistoryDaysName, DefaultHistoryDays);
    return days >= 0 && days <= MaxHistoryDays ? days : DefaultHistoryDays;
}

void WriteHistoryDays(const TSettingsStore& store, int32_t days) {
    WriteIntegerValue(store, SettingsValuesPath(), HistoryDaysName, days);
}
