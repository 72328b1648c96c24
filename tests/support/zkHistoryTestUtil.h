#pragma once

// Alerts as the history keeps them, for the history's tests.

#include "history/zkHistoryStore.h"

inline THistoryAlert MakeHistoryAlert(qint64 timeMs, const QString& window, const QString& symbol,
                                      double price = 1.5,
                                      const QString& description = QStringLiteral("Gap up"),
                                      const QString& source = QStringLiteral("service")) {
    THistoryAlert a;
    a.TimeMs = timeMs;
    a.Window = window;
    a.Symbol = symbol;
    a.Price = price;
    a.Description = description;
    a.Source = source;
    return a;
}
