#include "zkSimAlertModel.h"

#include "zkSimClock.h"

#include "platform/zkOutsideText.h"

#include <QIcon>
#include <QPixmap>
#include <QUrl>

namespace {

QString DecodeValue(QString value) {
    value.replace(QLatin1Char('+'), QLatin1Char(' '));
    return QUrl::fromPercentEncoding(value.toUtf8());
}

} // namespace

QString SimQueryValue(const QString& text, const QString& key, bool* found) {
    for (const QString& pair : text.split(QLatin1Char('&'))) {
        const qsizetype eq = pair.indexOf(QLatin1Char('='));
        const QString name = eq < 0 ? pair : pair.left(eq);
        if (name == key) {
            if (found)
                *found = true;
            return eq < 0 ? QString() : DecodeValue(pair.mid(eq + 1));
        }
    }
    if (found)
        *found = false;
    return QString();
}

QString SimQueryWith(const QString& text, const QString& key, const QString& value) {
    const QString encoded =
        key + QLatin1Char('=') + QString::fromLatin1(QUrl::toPercentEncoding(value, ","));
    QStringList pairs = text.isEmpty() ? QStringList() : text.split(QLatin1Char('&'));
    bool replaced = false;
    for (QString& pair : pairs) {
        const qsizetype eq = pair.indexOf(QLatin1Char('='));
        if ((eq < 0 ? pair : pair.left(eq)) == key && !replaced) {
            pair = encoded;
            replaced = true;
        }
    }
    if (!replaced)
        pairs.append(encoded);
    return pairs.join(QLatin1Char('&'));
}

TSimDataConfig ParseSimDataConfig(const QString& text) {
    TSimDataConfig config;
    config.WindowName = SimQueryValue(text, QStringLiteral("WN"));
    for (const QString& s : SimQueryValue(text, QStringLiteral("S")).split(QLatin1Char(',')))
        if (!s.trimmed().isEmpty())
            config.Symbols.append(s.trimmed().toUpper());
    bool ok = false;
    const double minPrice = SimQueryValue(text, QStringLiteral("MinPrice")).toDouble(&ok);
    if (ok)
        config.MinPrice = minPrice;
    const double maxPrice = SimQueryValue(text, QStringLiteral("MaxPrice")).toDouble(&ok);
    if (ok)
        config.MaxPrice = maxPrice;
    config.Inbox = IsInboxDataConfig(text);
    return config;
}

QString SimDefaultDataConfig() {
    return QStringLiteral("WN=Running%20Up&S=");
}

// --- TSimAlertModel -----------------------------------------------------------------------

namespace {

// Every list of the program (all on the user-interface thread), and their rows' bytes.
std::vector<TSimAlertModel*>& AllLists() {
    static std::vector<TSimAlertModel*> lists;
    return lists;
}
qint64 AllBytes = 0;

} // namespace

TSimAlertModel::TSimAlertModel(QObject* parent) : QAbstractTableModel(parent) {
    BoldFont.setBold(true);
    AllLists().push_back(this);
}

TSimAlertModel::~TSimAlertModel() {
    AllBytes -= RowBytes;
    std::erase(AllLists(), this);
}

qint64 TSimAlertModel::BytesAll() {
    return AllBytes;
}

qint64 TSimAlertModel::AlertBytes(const TSimAlert& alert) {
    // The row's object with its shared count and place in the list, and its texts.
    constexpr qint64 Fixed = qint64(sizeof(TSimAlert)) + 48;
    constexpr qint64 StringHeader = 32;
    return Fixed + 2 * StringHeader +
           qint64(sizeof(char16_t)) * (alert.Symbol.size() + alert.Text.size());
}

qint64 TSimAlertModel::ByteShare() {
    return MaxBytesAll / qint64(std::max<size_t>(1, AllLists().size()));
}

int TSimAlertModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(Rows.size());
}

int TSimAlertModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QString TSimAlertModel::TimeText(const TSimAlert& alert) const {
    // Rows come in order, many in the same second: the time zone's arithmetic is done once a
    // second, not once a row.
    const QDateTime time = alert.AlertTime();
    const qint64 second = time.isValid() ? time.toSecsSinceEpoch() : 0;
    if (time.isValid() && second == TimeTextSecond && OffsetMinutes == TimeTextOffset &&
        !LastTimeText.isNull())
        return LastTimeText;
    const QDateTime shown = SimNewYorkTime(time).addSecs(qint64(OffsetMinutes) * 60);
    QString text = shown.toString(QStringLiteral("HH:mm:ss"));
    if (time.isValid()) {
        TimeTextSecond = second;
        TimeTextOffset = OffsetMinutes;
        LastTimeText = text;
    }
    return text;
}

namespace {
QIcon DirectionIcon(int direction) {
    static const auto make = [](const QColor& color) {
        QPixmap mark(16, 16);
        mark.fill(color);
        return QIcon(mark);
    };
    static const QIcon up = make(QColor(0x1f, 0x9d, 0x55));
    static const QIcon down = make(QColor(0xd6, 0x45, 0x45));
    static const QIcon flat = make(QColor(0xa8, 0xb0, 0xba));
    return direction > 0 ? up : direction < 0 ? down : flat;
}
} // namespace

QString TSimAlertModel::ShownDescription(const QString& description, int chars) {
    return zkOutsideText::Shortened(description, chars);
}

QVariant TSimAlertModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || size_t(index.row()) >= Rows.size())
        return QVariant();
    const TSimAlert& alert = *Rows[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case TimeColumn:
            return TimeText(alert);
        case SymbolColumn:
            return alert.AlertSymbol();
        case PriceColumn:
            return alert.Price() > 0 ? QString::number(alert.Price(), 'f', 2) : QString();
        case DescriptionColumn:
            return ShownDescription(alert.Text, ShownChars);
        }
        break;
    case Qt::ForegroundRole:
        return TextColor;
    case Qt::FontRole:
        if (index.column() == SymbolColumn)
            return BoldFont;
        break;
    case Qt::TextAlignmentRole:
        if (index.column() == PriceColumn)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    case Qt::DecorationRole:
        // Every row gets a mark, so the descriptions line up. One icon per colour for the
        // whole program: a colour value would make the view build a new icon, and a new
        // pixmap cache entry, for every row it paints.
        if (index.column() == DescriptionColumn)
            return DirectionIcon(alert.Direction);
        break;
    case Qt::AccessibleTextRole:
        // The colour alone says nothing to a screen reader.
        if (alert.Emphasised && index.column() == SymbolColumn)
            return tr("%1, emphasised").arg(alert.AlertSymbol());
        break;
    case Qt::ToolTipRole: {
        const QString text = QStringLiteral("%1  %2  %3")
                                 .arg(alert.AlertSymbol(),
                                      SimNewYorkTime(alert.AlertTime())
                                          .addSecs(qint64(OffsetMinutes) * 60)
                                          .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                                      alert.Description());
        // Symbol and description are whatever the sender wrote: never markup.
        return zkOutsideText::ToolTip(text);
    }
    default:
        break;
    }
    return QVariant();
}

QVariant TSimAlertModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal)
        return QVariant();
    if (role == Qt::TextAlignmentRole)
        return int((section == PriceColumn ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return QVariant();
    switch (section) {
    case TimeColumn:
        return tr("Time");
    case SymbolColumn:
        return tr("Symbol");
    case PriceColumn:
        return tr("Price");
    case DescriptionColumn:
        return tr("Description");
    }
    return QVariant();
}

int TSimAlertModel::AddAlerts(const std::vector<std::shared_ptr<TSimAlert>>& alerts) {
    if (alerts.empty() || Limit <= 0)
        return 0;
    // Of a batch larger than the bounds only the newest can ever be seen (at least one row).
    const qint64 share = ByteShare();
    size_t take = 0;
    qint64 bytes = 0;
    while (take < alerts.size() && take < size_t(Limit)) {
        const qint64 next = AlertBytes(*alerts[alerts.size() - 1 - take]);
        if (take > 0 && bytes + next > share)
            break;
        bytes += next;
        ++take;
    }
    beginInsertRows(QModelIndex(), 0, int(take) - 1);
    for (size_t i = alerts.size() - take; i < alerts.size(); ++i) {
        alerts[i]->Serial = ++LastSerial;
        Rows.push_front(alerts[i]);
    }
    RowBytes += bytes;
    AllBytes += bytes;
    endInsertRows();
    TrimTo(Limit);
    TrimBytesTo(std::max(share, AlertBytes(*Rows.front())));
    // Past the bound of all lists: each keeps its share, the largest giving up the most.
    if (AllBytes > MaxBytesAll)
        for (TSimAlertModel* list : AllLists())
            if (list != this && list->RowBytes > share)
                list->TrimBytesTo(share);
    return int(take);
}

void TSimAlertModel::TrimTo(int rows) {
    if (int(Rows.size()) <= rows)
        return;
    beginRemoveRows(QModelIndex(), rows, int(Rows.size()) - 1);
    for (size_t i = size_t(rows); i < Rows.size(); ++i) {
        const qint64 bytes = AlertBytes(*Rows[i]);
        RowBytes -= bytes;
        AllBytes -= bytes;
    }
    Rows.resize(size_t(rows));
    endRemoveRows();
}

void TSimAlertModel::TrimBytesTo(qint64 bytes) {
    if (RowBytes <= bytes)
        return;
    qint64 kept = RowBytes;
    size_t rows = Rows.size();
    while (rows > 0 && kept > bytes)
        kept -= AlertBytes(*Rows[--rows]);
    TrimTo(int(rows));
}

void TSimAlertModel::Clear() {
    if (Rows.empty())
        return;
    beginResetModel();
    Rows.clear();
    AllBytes -= RowBytes;
    RowBytes = 0;
    endResetModel();
}

std::shared_ptr<TSimAlert> TSimAlertModel::AlertAt(int row) const {
    if (row < 0 || size_t(row) >= Rows.size())
        return nullptr;
    return Rows[size_t(row)];
}

void TSimAlertModel::SetMaxRows(int rows) {
    Limit = std::max(0, rows);
    TrimTo(Limit);
}

void TSimAlertModel::SetTextColor(const QColor& color) {
    if (color == TextColor)
        return;
    TextColor = color;
    if (!Rows.empty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1), {Qt::ForegroundRole});
}

void TSimAlertModel::SetFont(const QFont& font) {
    BoldFont = font;
    BoldFont.setBold(true);
    if (!Rows.empty())
        emit dataChanged(index(0, SymbolColumn), index(rowCount() - 1, SymbolColumn),
                         {Qt::FontRole});
}

void TSimAlertModel::SetTimeOffset(int minutes) {
    if (minutes == OffsetMinutes)
        return;
    OffsetMinutes = minutes;
    if (!Rows.empty())
        emit dataChanged(index(0, TimeColumn), index(rowCount() - 1, TimeColumn),
                         {Qt::DisplayRole, Qt::ToolTipRole});
}
