#pragma once

// The simulated alert component: a live, newest-first list of the alerts of the strategy in
// its DataConfig. Alerts come from the service's feed file when one is set (replayed from the
// component's creation, whatever the connection state), otherwise from a seeded random walk
// over the market at the SimAlertInterval rate while the connection is connected.

#include "zkComponents.h"
#include "zkSimAlertModel.h"

#include <QElapsedTimer>
#include <QList>
#include <QPixmap>
#include <QPointer>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>

#include <array>
#include <memory>
#include <optional>
#include <random>
#include <unordered_map>
#include <vector>

class QMenu;
class TSimService;

// The widths of the time, symbol and price columns a WindowConfig's "CW=70,64,72" asks for;
// a width that is missing, no number or outside 16..2000 pixels is the column's default.
std::array<int, 3> SimColumnWidths(const QString& windowConfig);

struct TSimFeed;

// A scroll bar that repaints for a new range or page only when that moves or resizes its
// handle, and then (with the Fusion style) only around the handle: the view sets both again at
// every new row, mostly changing the handle by less than a pixel, and the style's whole scroll
// bar costs as much to paint as the rows.
class TSimScrollBar : public QScrollBar {
    Q_OBJECT
public:
    explicit TSimScrollBar(Qt::Orientation orientation, QWidget* parent = nullptr);
    quint64 Paints() const { return PaintCount; }

protected:
    void sliderChange(SliderChange change) override;
    void paintEvent(QPaintEvent* event) override;

private:
    struct TLook {
        QRect Handle;
        bool AtMinimum = false, AtMaximum = false, Empty = false;
        bool operator==(const TLook&) const = default;
    };
    TLook Look() const;
    std::optional<TLook> Painted;
    quint64 PaintCount = 0;
};

// The list view; paints a hint while it has no rows.
//
// New rows come in at the top: the rows already painted are moved down the window's pixels and
// only the new ones are painted (the rows' shades go with them, see TSimReadableCellDelegate);
// anything else (rows removed in sight, an empty list) repaints the list as the view does.
class TSimAlertTable : public QTableView {
    Q_OBJECT
public:
    explicit TSimAlertTable(QWidget* parent = nullptr);
    void setModel(QAbstractItemModel* model) override;
    QString Placeholder;
    // Off: every new row repaints the whole list (for comparisons).
    void SetMovingRows(bool on) { MovingRows = on; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void RowCountChanged(int oldCount, int newCount);
    void DropCurrentIfRemoved(const QModelIndex& parent, int first, int last);
    void FitRowRange();

    bool MovingRows = true;
    // Of the change in progress: rows put in at the top, rows taken away out of sight.
    bool InsertedAtTop = false;
    bool RemovedOutOfSight = false;
    QList<QMetaObject::Connection> ModelLinks;
};

// The list's colours for a theme: light on a light palette, dark on a dark one.
struct TSimListColors {
    QColor Base, AlternateBase, Highlight;
};
TSimListColors SimListColors(const QPalette& palette);

// Draws each cell's text in its colour where that reads on the cell's background (at least
// 4.5:1), and otherwise in the nearest shade of it that does.
//
// Shaping a cell's text is what a busy list's repaint spent its time on: every row moves down
// when one arrives, and each was shaped again. So each cell's text is laid out once, when its
// row is first painted (again when the font or the cell's size changes, or the rows' data
// does), and painted from that afterwards; cells of a column showing the same text (the same
// second, price or kind of alert) share one layout. Only cells painted lately are kept.
//
// What the style draws of a cell besides its text (the row's band, the selection, an
// emphasised row's fill, the mark) is the same for every cell of a column that looks alike,
// and the style works its colours out anew at every call: so it is drawn once per look into a
// picture that the cells then show, and drawn again only for a look not seen yet (a new
// palette, column width, state). Where a picture could not show the same pixels (brushes that
// are not plain colours, a scaled painter), the style draws each cell as before.
//
// A row's shade (with alternating colours) follows the row, by its serial, not its place: rows
// moved down by a new one keep their pixels. An emphasised row is filled with the palette's
// highlight colour instead, its text kept readable on it.
class TSimReadableCellDelegate : public QStyledItemDelegate {
public:
    explicit TSimReadableCellDelegate(TSimAlertModel* model, QObject* parent = nullptr);
    ~TSimReadableCellDelegate() override;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

    // Off: every cell goes through the style at every paint (for comparisons).
    void SetCached(bool on);
    // Off: the kept cells' text is drawn from their layouts, but what the style draws around
    // it is drawn by the style at every paint (for comparisons).
    void SetLooksKept(bool on);
    qsizetype CachedCells() const { return qsizetype(Cells.size()); }
    // Cells laid out so far, texts shaped for them, and cells painted from their layouts.
    quint64 LayOuts() const { return LayOutCount; }
    quint64 Shapings() const { return ShapeCount; }
    quint64 CellPaints() const { return Paints; }
    // Looks drawn by the style so far (each then shown by every cell that looks so).
    quint64 LooksDrawn() const { return LookCount; }
    // Called after each repaint of the list: drops the cells beyond what the list shows.
    void Trim(int shownCells) const;
    void Forget() const;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
    struct TCell;
    struct TText;
    struct TPlace;
    struct TLookKey;
    struct TLookKeyHash {
        size_t operator()(const TLookKey& key) const;
    };
    TCell* LayOut(const QStyleOptionViewItem& option, const QModelIndex& index) const;
    // Where a cell's text goes, from the cell's top left: the same for every cell of a column.
    QRect TextPlace(const QStyleOptionViewItem& option) const;
    // The laid-out text, shared with the column's other cells showing the same.
    std::shared_ptr<const TText> Shaped(int column, const QString& text,
                                        const QStyleOptionViewItem& option) const;
    // Shows the picture of the cell's look (drawing it first when new); false where a picture
    // would not look the same, and nothing was drawn.
    bool PaintLook(QPainter* painter, const QStyleOptionViewItem& given,
                   const QStyleOptionViewItem& option, bool reshaded, bool emphasised,
                   const TCell& cell) const;
    // The row shaded as the view would have shaded it for the other band.
    static void Reshade(QPainter* painter, const QStyleOptionViewItem& given,
                        const QStyleOptionViewItem& reshaded);
    // zkTheme::Readable, remembered for the few pairs a list uses.
    QColor Shown(const QColor& wanted, const QColor& background) const;
    // What a cell's text is drawn on: the selection, the cell's fill (an emphasised row's
    // colour), or the row's band.
    static QColor CellBackground(const QStyleOptionViewItem& option, const QBrush& fill);
    // An emphasised row's cells are filled with the list's highlight colour.
    void Emphasise(QStyleOptionViewItem& option, const QModelIndex& index) const;
    static quint64 CellKey(quint64 serial, int column);

    QPointer<TSimAlertModel> Model;
    bool CacheOn = true;
    bool LooksOn = true;
    mutable std::unordered_map<quint64, std::unique_ptr<TCell>> Cells;
    mutable std::vector<std::unique_ptr<TPlace>> Places; // by column
    mutable std::vector<std::unordered_map<QString, std::shared_ptr<const TText>>>
        Texts; // by column
    mutable std::unordered_map<TLookKey, QPixmap, TLookKeyHash> Looks;
    mutable quint64 Paints = 0;
    mutable quint64 LayOutCount = 0;
    mutable quint64 ShapeCount = 0;
    mutable quint64 LookCount = 0;
    mutable QFont CellFont;
    struct TShade {
        QColor Wanted, Background, Shown;
    };
    mutable std::array<TShade, 8> Shades;
    mutable size_t NextShade = 0;
};

class TSimZentrikWindowX : public IZentrikWindowX {
    Q_OBJECT
public:
    explicit TSimZentrikWindowX(std::shared_ptr<TSimService> service);
    ~TSimZentrikWindowX() override;

    QWidget* Widget() override;
    QString DataConfig() const override { return DataConfigText; }
    void SetDataConfig(const QString& value) override;
    QString WindowConfig() const override;
    void SetWindowConfig(const QString& value) override;
    QString StrategyConfig() const override { return StrategyConfigText; }
    void SetStrategyConfig(const QString& value) override { StrategyConfigText = value; }
    QFont Font() const override { return ListFont; }
    void SetFont(const QFont& font) override;
    int32_t FontColor() const override { return FontColorValue; }
    void SetFontColor(int32_t color) override;
    bool NotifyOnEachAlert() const override { return NotifyEach; }
    void SetNotifyOnEachAlert(bool value) override { NotifyEach = value; }
    bool NotifyOnWindowNameChanged() const override { return NotifyName; }
    void SetNotifyOnWindowNameChanged(bool value) override { NotifyName = value; }
    bool NotifyOnAccountStatusChanged() const override { return NotifyStatus; }
    void SetNotifyOnAccountStatusChanged(bool value) override { NotifyStatus = value; }
    int32_t AllowAlertSelectionType() const override { return AllowSelection; }
    void SetAllowAlertSelectionType(int32_t value) override { AllowSelection = value; }
    QString WindowName() const override { return Config.WindowName; }
    int32_t AlertSelectionType() const override { return SelectionType; }
    QString SuggestedFileName() const override;
    void AddCustomMenuItem(const QString& text, int32_t id) override;
    void AddExternalAlerts(const QList<TAlertData>& alerts) override;
    bool SelectAlert(const IAlertData& alert) override;
    std::shared_ptr<IAlertData> SelectedAlert() const override;

    // For tests and the look: the list, its model, and the context menu as it pops up at a
    // point of the list's viewport (the menu deletes itself when it closes).
    TSimAlertTable* View() const { return Table; }
    TSimAlertModel* Model() const { return AlertModel; }
    QMenu* ShowContextMenu(const QPoint& viewportPos);

private:
    // The list's background, rows and text for the theme in force and the font colour.
    void ApplyListColors();
    void Deliver(std::vector<std::shared_ptr<TSimAlert>> alerts);
    void UpdateSources();
    void RestartFeed();
    void FeedTick();
    void GeneratorTick();
    std::shared_ptr<TSimAlert> MakeRandomAlert();
    void ApplyDisplay();
    void ApplyColumnWidths(const QString& windowConfig);
    void UpdatePlaceholder();
    // Tells the model how many characters the description column could show at most.
    void UpdateShownChars(int columnWidth);
    void Select(const QModelIndex& index, int32_t type);

    std::shared_ptr<TSimService> Service;
    QPointer<TSimAlertTable> Table;
    TSimAlertModel* AlertModel = nullptr;

    QString DataConfigText;
    TSimDataConfig Config;
    int Direction = 0; // of the generated alerts, from the window name: +1, -1, 0 for both
    QString WindowConfigText;
    bool ColumnsResizedByUser = false;
    QString StrategyConfigText;
    QFont ListFont;
    int NarrowestChar = 1; // of the font, in pixels
    int32_t FontColorValue = 0;
    bool NotifyEach = false, NotifyName = false, NotifyStatus = false;
    int32_t AllowSelection = 0;
    int32_t SelectionType = 0;
    struct TMenuItem {
        QString Text;
        int32_t Id;
    };
    QList<TMenuItem> CustomItems;

    std::shared_ptr<const TSimFeed> Feed;
    size_t FeedIndex = 0;
    QElapsedTimer FeedClock;
    QTimer FeedTimer;

    QTimer GeneratorTimer;
    QElapsedTimer GeneratorClock;
    qint64 GeneratorDueMs = 0;
    std::mt19937 Random;
};
