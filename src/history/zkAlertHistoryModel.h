#pragma once

#include "history/zkHistoryStore.h"

#include <QAbstractTableModel>

#include <deque>
#include <functional>
#include <memory>

// The rows of the alert history window: the alerts a filter keeps, newest first. Older rows are
// read a page at a time as the view scrolls down to them; alerts recorded while the window is
// open come in at the top.
class THistoryModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum TColumn { TimeColumn, WindowColumn, SymbolColumn, PriceColumn, DescriptionColumn,
                   ColumnCount };
    static constexpr int PageRows = 200;

    explicit THistoryModel(QObject* parent = nullptr);
    ~THistoryModel() override;

    // Reads the first page of `filter` from the store (nullptr: no rows). Alerts announced
    // later with an Id the store held already are ignored, so none shows twice.
    void Reset(THistoryStore* store, const THistoryFilter& filter);
    // Drops every row (the window is hidden).
    void Clear();
    // Alerts just recorded: those the filter keeps go on top. Returns how many.
    int AddRecorded(const std::vector<THistoryAlert>& alerts);

    const THistoryFilter& Filter() const { return CurrentFilter; }
    const THistoryAlert& AlertAt(int row) const { return Rows[size_t(row)]; }
    // Local time as the window shows it.
    static QString TimeText(qint64 timeMs);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    // Reads the next page; a read that fails goes to OnReadError (and is tried again at the
    // next scroll), not to the view.
    void fetchMore(const QModelIndex& parent) override;
    std::function<void(const EHistoryError&)> OnReadError;

private:
    THistoryStore* Store = nullptr;
    THistoryFilter CurrentFilter;
    std::deque<THistoryAlert> Rows;
    // The next page of older alerts, less those that came in live.
    std::vector<THistoryAlert> ReadPage();

    // Pages skip alerts above this Id: they came in live (or will).
    qint64 PageLimitId = 0;
    // The newest Id announced so far.
    qint64 LiveLastId = 0;
    bool MoreOlder = false;
    // Where the next page of older alerts starts.
    std::optional<THistoryCursor> Cursor;
};
