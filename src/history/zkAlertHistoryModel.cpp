#include "zkAlertHistoryModel.h"

#include <QDateTime>

#include <algorithm>

namespace {

// Alerts arriving on top push the oldest rows out past this; scrolling down reads them again.
constexpr size_t MaxRows = 100000;

} // namespace

THistoryModel::THistoryModel(QObject* parent) : QAbstractTableModel(parent) {}

THistoryModel::~THistoryModel() = default;

void THistoryModel::Reset(THistoryStore* store, const THistoryFilter& filter) {
    beginResetModel();
    Store = store;
    CurrentFilter = filter;
    Rows.clear();
    Cursor.reset();
    PageLimitId = LiveLastId = 0;
    MoreOlder = false;
    if (Store) {
        // The last Id first: an alert written between the two reads is announced later and
        // taken then, as its Id is above this one.
        PageLimitId = LiveLastId = Store->LastId();
        for (THistoryAlert& alert : ReadPage())
            Rows.push_back(std::move(alert));
    }
    endResetModel();
}

void THistoryModel::Clear() {
    beginResetModel();
    Store = nullptr;
    Rows.clear();
    Rows.shrink_to_fit();
    MoreOlder = false;
    endResetModel();
}

int THistoryModel::AddRecorded(const std::vector<THistoryAlert>& alerts) {
    if (!Store)
        return 0;
    std::vector<const THistoryAlert*> kept;
    for (const THistoryAlert& alert : alerts)
        if (alert.Id > LiveLastId && CurrentFilter.Matches(alert))
            kept.push_back(&alert);
    for (const THistoryAlert& alert : alerts)
        LiveLastId = std::max(LiveLastId, alert.Id);
    if (kept.empty())
        return 0;
    // The batch is oldest first; the newest goes to the very top.
    beginInsertRows(QModelIndex(), 0, int(kept.size()) - 1);
    for (const THistoryAlert* alert : kept)
        Rows.push_front(*alert);
    endInsertRows();
    if (Rows.size() > MaxRows) {
        bool liveRowsGo = false;
        for (size_t i = MaxRows; i < Rows.size(); ++i)
            liveRowsGo = liveRowsGo || Rows[i].Id > PageLimitId;
        beginRemoveRows(QModelIndex(), int(MaxRows), int(Rows.size()) - 1);
        Rows.resize(MaxRows);
        endRemoveRows();
        // Pages may now bring back alerts that first came in live.
        if (liveRowsGo)
            PageLimitId = LiveLastId;
        Cursor = THistoryCursor{Rows.back().TimeMs, Rows.back().Id};
        MoreOlder = true;
    }
    return int(kept.size());
}

QString THistoryModel::TimeText(qint64 timeMs) {
    return QDateTime::fromMSecsSinceEpoch(timeMs)
        .toLocalTime()
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

int THistoryModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(Rows.size());
}

int THistoryModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant THistoryModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || size_t(index.row()) >= Rows.size())
        return {};
    const THistoryAlert& alert = Rows[size_t(index.row())];
    if (role == Qt::DisplayRole) {
        switch (index.column()) {
        case TimeColumn:
            return TimeText(alert.TimeMs);
        case WindowColumn:
            return alert.Window;
        case SymbolColumn:
            return alert.Symbol;
        case PriceColumn:
            return alert.Price > 0 ? QString::number(alert.Price, 'f', 2) : QString();
        case DescriptionColumn:
            return alert.Description;
        default:
            return {};
        }
    }
    if (role == Qt::TextAlignmentRole)
        return int((index.column() == PriceColumn ? Qt::AlignRight : Qt::AlignLeft) |
                   Qt::AlignVCenter);
    return {};
}

QVariant THistoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case TimeColumn:
        return tr("Time");
    case WindowColumn:
        return tr("Window");
    case SymbolColumn:
        return tr("Symbol");
    case PriceColumn:
        return tr("Price");
    case DescriptionColumn:
        return tr("Description");
    default:
        return {};
    }
}

bool THistoryModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && Store && MoreOlder;
}

void THistoryModel::fetchMore(const QModelIndex& parent) {
    if (!canFetchMore(parent))
        return;
    std::vector<THistoryAlert> rows;
    try {
        rows = ReadPage();
    } catch (const EHistoryError& error) {
        if (!OnReadError)
            throw;
        OnReadError(error);
        return;
    }
    if (rows.empty())
        return;
    const int first = int(Rows.size());
    beginInsertRows(QModelIndex(), first, first + int(rows.size()) - 1);
    for (THistoryAlert& alert : rows)
        Rows.push_back(std::move(alert));
    endInsertRows();
}

std::vector<THistoryAlert> THistoryModel::ReadPage() {
    std::vector<THistoryAlert> page = Store->Page(CurrentFilter, Cursor, PageRows);
    MoreOlder = page.size() == size_t(PageRows);
    if (!page.empty())
        Cursor = THistoryCursor{page.back().TimeMs, page.back().Id};
    page.erase(std::remove_if(page.begin(), page.end(),
                              [this](const THistoryAlert& a) { return a.Id > PageLimitId; }),
               page.end());
    return page;
}
