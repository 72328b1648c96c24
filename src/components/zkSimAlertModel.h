#pragma once

// The alert list of the simulated alert component, newest first, and the configuration texts
// it understands. No widget here, so the model and the parsing are testable without a screen.

#include "zkComponents.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QFont>
#include <QStringList>

#include <deque>
#include <memory>
#include <optional>
#include <vector>

// An alert as the simulation makes it: the plain values plus the move it reports.
class TSimAlert : public TAlertData {
public:
    using TAlertData::TAlertData;
    int Direction = 0; // +1 up, -1 down, 0 neither
};

// Query-style configuration text: "WN=Running%20Up&S=AAPL,MSFT". Keys compare exactly;
// values are percent-encoded ("+" is a space too).
QString SimQueryValue(const QString& text, const QString& key, bool* found = nullptr);
// The text with key set to value (added at the end when missing); other pairs keep their
// order and spelling.
QString SimQueryWith(const QString& text, const QString& key, const QString& value);

// What a DataConfig asks for:
//   WN        the strategy's (window's) name
//   S         comma-separated symbols to watch; empty or missing: the whole market
//   MinPrice  lowest price of an alert, MaxPrice highest
// Other keys are kept as they are.
struct TSimDataConfig {
    QString WindowName;
    QStringList Symbols;
    std::optional<double> MinPrice, MaxPrice;
    // "Src=inbox": the window shows alerts from the user's own programs only, no generated or
    // replayed ones.
    bool Inbox = false;
};
TSimDataConfig ParseSimDataConfig(const QString& text);
// What a new component, or one given an empty DataConfig, uses.
QString SimDefaultDataConfig();

class TSimAlertModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum TColumn { TimeColumn, SymbolColumn, PriceColumn, DescriptionColumn, ColumnCount };
    static constexpr int DefaultMaxRows = 5000;

    explicit TSimAlertModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Adds alerts given in arrival order as one insertion at the top, then drops the oldest
    // rows beyond the bound.
    void AddAlerts(const std::vector<std::shared_ptr<TSimAlert>>& alerts);
    void Clear();
    std::shared_ptr<TSimAlert> AlertAt(int row) const;

    int MaxRows() const { return Limit; }
    void SetMaxRows(int rows);
    void SetTextColor(const QColor& color);
    void SetFont(const QFont& font);
    // Minutes added to the New York time shown in the time column.
    void SetTimeOffset(int minutes);
    int TimeOffset() const { return OffsetMinutes; }
    // The time column's text of an alert.
    QString TimeText(const TSimAlert& alert) const;

private:
    void TrimTo(int rows);

    std::deque<std::shared_ptr<TSimAlert>> Rows; // newest first
    int Limit = DefaultMaxRows;
    QColor TextColor = Qt::black;
    QFont BoldFont;
    int OffsetMinutes = 0;
};
