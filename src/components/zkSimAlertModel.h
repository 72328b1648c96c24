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
    // Set by the list that takes it, counting that list's rows: what a row's drawing is kept
    // under, and its shade, so that each list's rows alternate whatever the others take.
    quint64 Serial = 0;
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

// The rows are bounded in count (MaxRows) and in bytes: all lists of the program together keep
// at most MaxBytesAll; once they pass it, each keeps at most its equal share, its oldest rows
// going first, so no flood of long alerts into any number of windows holds more.
class TSimAlertModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum TColumn { TimeColumn, SymbolColumn, PriceColumn, DescriptionColumn, ColumnCount };
    static constexpr int DefaultMaxRows = 5000;
    static constexpr qint64 MaxBytesAll = qint64(128) << 20;

    explicit TSimAlertModel(QObject* parent = nullptr);
    ~TSimAlertModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Adds alerts given in arrival order as one insertion at the top, then drops the oldest
    // rows beyond the bounds; how many rows it inserted.
    int AddAlerts(const std::vector<std::shared_ptr<TSimAlert>>& alerts);
    void Clear();
    std::shared_ptr<TSimAlert> AlertAt(int row) const;
    // The alert's Serial of a row; 0 for no row.
    quint64 SerialAt(int row) const {
        return row >= 0 && size_t(row) < Rows.size() ? Rows[size_t(row)]->Serial : 0;
    }
    // Whether a row is emphasised (see TAlertData::Emphasised); false for no row.
    bool EmphasisedAt(int row) const {
        return row >= 0 && size_t(row) < Rows.size() && Rows[size_t(row)]->Emphasised;
    }
    const QColor& TextColorOfRows() const { return TextColor; }

    int MaxRows() const { return Limit; }
    // What the rows are counted as, this list's and every list's.
    qint64 Bytes() const { return RowBytes; }
    static qint64 BytesAll();
    static qint64 AlertBytes(const TSimAlert& alert);
    void SetMaxRows(int rows);
    void SetTextColor(const QColor& color);
    void SetFont(const QFont& font);
    // Minutes added to the New York time shown in the time column.
    void SetTimeOffset(int minutes);
    int TimeOffset() const { return OffsetMinutes; }
    // The time column's text of an alert.
    QString TimeText(const TSimAlert& alert) const;
    // The description column shows at most this many characters of a description, as many as
    // its width could show: laying out the rest of long descriptions at every repaint, only to
    // elide it, would stall the windows. The whole text stays in the alert (and its tooltip).
    void SetShownChars(int chars) { ShownChars = std::max(2, chars); }
    static constexpr int DefaultShownChars = 512;
    // The description cut to `chars` characters, the last one "…", never within a character.
    static QString ShownDescription(const QString& description, int chars);

private:
    void TrimTo(int rows);
    // Drops the oldest rows until at most `bytes` are kept.
    void TrimBytesTo(qint64 bytes);
    // The share of MaxBytesAll each list may keep.
    static qint64 ByteShare();

    std::deque<std::shared_ptr<TSimAlert>> Rows; // newest first
    qint64 RowBytes = 0;
    quint64 LastSerial = 0;
    int Limit = DefaultMaxRows;
    QColor TextColor = Qt::black;
    QFont BoldFont;
    int OffsetMinutes = 0;
    // The time column's last text, of that second with that offset.
    mutable qint64 TimeTextSecond = 0;
    mutable int TimeTextOffset = 0;
    mutable QString LastTimeText;
    int ShownChars = DefaultShownChars;
};
