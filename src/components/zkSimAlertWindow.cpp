#include "zkSimAlertWindow.h"

#include "zkSimService.h"

#include "config/zkWindowRecord.h"
#include "desktop/zkClientStyle.h"
#include "desktop/zkTheme.h"

#include <QApplication>
#include <QClipboard>
#include <QGlyphRun>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMenu>
#include <QPainter>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTextLayout>

#include <cmath>
#include <optional>

namespace {

struct TAlertKind {
    const char* Text;
    int Direction;
    bool Percent; // the text carries a move in percent; otherwise a volume ratio
};

const TAlertKind AlertKinds[] = {
    {"New high", +1, true},
    {"New low", -1, true},
    {"Running up now", +1, true},
    {"Running down now", -1, true},
    {"Crossed above VWAP", +1, true},
    {"Crossed below VWAP", -1, true},
    {"Gap up", +1, true},
    {"Gap down", -1, true},
    {"Crossed above resistance", +1, true},
    {"Crossed below support", -1, true},
    {"Bounce off the lows", +1, true},
    {"Pullback from the highs", -1, true},
    {"High relative volume", 0, false},
    {"Volume spike", 0, false},
};

// A strategy named for a direction ("Running Up", "New Lows") shows only alerts of that
// direction, so a window looks like its name; any other name gets every kind.
int StrategyDirection(const QString& windowName) {
    static const QStringList Up = {"up",   "ups",      "high",      "highs",   "bull",  "bullish",
                                   "long", "breakout", "breakouts", "gainers", "above", "rising"};
    static const QStringList Down = {"down",       "downs",   "low",   "lows",
                                     "bear",       "bearish", "short", "breakdown",
                                     "breakdowns", "losers",  "below", "falling"};
    bool up = false, down = false;
    for (const QString& word : windowName.toLower().split(
             QRegularExpression(QStringLiteral("[^a-z]+")), Qt::SkipEmptyParts)) {
        up = up || Up.contains(word);
        down = down || Down.contains(word);
    }
    return up == down ? 0 : (up ? +1 : -1);
}

constexpr int DefaultColumnWidths[] = {70, 64, 72};
// The generator never ticks faster than this; shorter intervals give several alerts a tick.
constexpr int MinTickMs = 20;
// A tick never makes more than this many alerts, so a stalled loop does not flood the list.
constexpr qint64 MaxAlertsPerTick = 500;

} // namespace

// --- TSimAlertTable -----------------------------------------------------------------------

TSimScrollBar::TSimScrollBar(Qt::Orientation orientation, QWidget* parent)
    : QScrollBar(orientation, parent) {}

TSimScrollBar::TLook TSimScrollBar::Look() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    TLook look;
    look.Handle =
        style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this);
    look.AtMinimum = value() == minimum();
    look.AtMaximum = value() == maximum();
    look.Empty = minimum() == maximum();
    return look;
}

void TSimScrollBar::sliderChange(SliderChange change) {
    // The view sets the steps again at every layout, changed or not.
    if ((change == SliderRangeChange || change == SliderStepsChange) && Painted) {
        const TLook now = Look();
        if (now == *Painted)
            return;
        // Fusion draws the groove whole under the handle, and shades both across the bar, not
        // along it: a handle that only grew or shrank changes only around the ends that moved,
        // and only those strips are painted again, not the whole bar (whose fills are tall
        // enough for the paint engine to hand them to other threads and wait).
        TLook resized = now;
        resized.Handle = Painted->Handle;
        if (resized == *Painted && zkClientStyle::BaseName(style()) == QLatin1String("fusion")) {
            const QRect was = Painted->Handle, is = now.Handle;
            const bool across = orientation() == Qt::Horizontal;
            QRegion strips;
            auto end = [&](int from, int to) {
                if (from == to)
                    return;
                const int low = std::min(from, to) - 2, high = std::max(from, to) + 2;
                strips += across ? QRect(low, 0, high - low + 1, height())
                                 : QRect(0, low, width(), high - low + 1);
            };
            const bool sameWidth = across ? was.top() == is.top() && was.bottom() == is.bottom()
                                          : was.left() == is.left() && was.right() == is.right();
            if (sameWidth && !was.isEmpty() && !is.isEmpty()) {
                end(across ? was.left() : was.top(), across ? is.left() : is.top());
                end(across ? was.right() : was.bottom(), across ? is.right() : is.bottom());
            } else {
                strips = (was | is).adjusted(-2, -2, 2, 2);
            }
            update(strips);
            return;
        }
    }
    QScrollBar::sliderChange(change);
}

void TSimScrollBar::paintEvent(QPaintEvent* event) {
    ++PaintCount;
    QScrollBar::paintEvent(event);
    Painted = Look();
}

TSimAlertTable::TSimAlertTable(QWidget* parent) : QTableView(parent) {
    setVerticalScrollBar(new TSimScrollBar(Qt::Vertical, this));
    setHorizontalScrollBar(new TSimScrollBar(Qt::Horizontal, this));
    // The view answers a new row count with a layout and a repaint of all it shows; this list
    // answers first (RowCountChanged) and leaves the rest to the view. Where the view's own
    // link cannot be found, it keeps it and repaints as it always did.
    QHeaderView* rows = verticalHeader();
    const bool taken =
        disconnect(rows, SIGNAL(sectionCountChanged(int, int)), this,
                   SLOT(rowCountChanged(int, int))) ||
        disconnect(rows, &QHeaderView::sectionCountChanged, this, &TSimAlertTable::rowCountChanged);
    if (taken)
        connect(rows, &QHeaderView::sectionCountChanged, this, &TSimAlertTable::RowCountChanged);
}

void TSimAlertTable::setModel(QAbstractItemModel* newModel) {
    for (const QMetaObject::Connection& link : std::exchange(ModelLinks, {}))
        disconnect(link);
    // Linked before the view is, so told before its header counts the rows again.
    if (newModel)
        ModelLinks = {
            connect(newModel, &QAbstractItemModel::rowsAboutToBeInserted, this,
                    [this](const QModelIndex& parent, int first, int) {
                        InsertedAtTop = !parent.isValid() && first == 0;
                    }),
            connect(newModel, &QAbstractItemModel::rowsAboutToBeRemoved, this,
                    [this](const QModelIndex& parent, int first, int last) {
                        RemovedOutOfSight =
                            !parent.isValid() && rowViewportPosition(first) >= viewport()->height();
                        DropCurrentIfRemoved(parent, first, last);
                    }),
        };
    QTableView::setModel(newModel);
}

void TSimAlertTable::DropCurrentIfRemoved(const QModelIndex& parent, int first, int last) {
    // Rows go from the end, the oldest, when the list is full. The view (and the selection
    // model) would make the row before them current and selected and scroll to it, taking a
    // window that follows the newest rows down to the oldest, where new ones arrive unseen.
    // A current row that goes is dropped instead, and its selection goes with its row.
    QItemSelectionModel* selection = selectionModel();
    if (!selection || parent.isValid())
        return;
    const QModelIndex current = selection->currentIndex();
    if (current.isValid() && !current.parent().isValid() && current.row() >= first &&
        current.row() <= last)
        selection->clearCurrentIndex();
}

void TSimAlertTable::RowCountChanged(int oldCount, int newCount) {
    const bool atTop = std::exchange(InsertedAtTop, false);
    const bool outOfSight = std::exchange(RemovedOutOfSight, false);
    if (MovingRows && isVisible() && verticalScrollMode() == ScrollPerPixel) {
        if (newCount > oldCount && oldCount > 0 && atTop) {
            FitRowRange();
            // The rows shown move down by the height of the new ones. (A list scrolled away
            // from the top is then scrolled back by as much: its rows stay where they were,
            // and only the strips that moved in are painted.)
            const int down = verticalHeader()->sectionPosition(newCount - oldCount);
            if (down > 0) {
                viewport()->scroll(0, down);
                return;
            }
        } else if (newCount < oldCount && outOfSight) {
            FitRowRange();
            return;
        }
    }
    rowCountChanged(oldCount, newCount);
}

void TSimAlertTable::FitRowRange() {
    // Of what the view's layout sets, rows added or taken at the ends of a list that fills the
    // view before and after change only the scroll range (the steps go by the view's height and
    // the rows that fit in it), and the scroll bar stays shown where it was. The view's layout,
    // and the scroll area's own answer to a new range, place the scroll bars again, which with
    // both shown repaints them both: neither is needed here.
    QScrollBar* bar = verticalScrollBar();
    const int range = verticalHeader()->length() - viewport()->height();
    if (bar->isVisible() && bar->maximum() > 0 && range > 0 && bar->value() <= range) {
        const QSignalBlocker quiet(bar);
        bar->setRange(0, range);
    } else {
        updateGeometries();
    }
}

void TSimAlertTable::paintEvent(QPaintEvent* event) {
    QTableView::paintEvent(event);
    if (const auto* cells = dynamic_cast<TSimReadableCellDelegate*>(itemDelegate())) {
        const int rowHeight = std::max(1, verticalHeader()->defaultSectionSize());
        const int columns = model() ? model()->columnCount() : 0;
        cells->Trim((viewport()->height() / rowHeight + 2) * columns);
    }
    if (model() && model()->rowCount() == 0 && !Placeholder.isEmpty()) {
        QPainter painter(viewport());
        painter.setPen(palette().color(QPalette::Disabled, QPalette::Text));
        painter.drawText(viewport()->rect().adjusted(12, 12, -12, -12),
                         Qt::AlignCenter | Qt::TextWordWrap, Placeholder);
    }
}

// --- TSimZentrikWindowX -------------------------------------------------------------------

TSimZentrikWindowX::TSimZentrikWindowX(std::shared_ptr<TSimService> service)
    : Service(std::move(service)) {
    Table = new TSimAlertTable();
    Table->setObjectName(QStringLiteral("AlertsTableView"));
    Table->setAccessibleName(tr("Alerts"));
    AlertModel = new TSimAlertModel(Table);
    Table->setModel(AlertModel);

    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->setSelectionMode(QAbstractItemView::SingleSelection);
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->setAlternatingRowColors(true);
    Table->setWordWrap(false);
    Table->setCornerButtonEnabled(false);
    Table->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    Table->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    Table->setFrameShape(QFrame::NoFrame);
    Table->setContextMenuPolicy(Qt::CustomContextMenu);
    Table->setIconSize(QSize(7, 7)); // the up/down marks of the description column
    Table->verticalHeader()->hide();
    Table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    QHeaderView* header = Table->horizontalHeader();
    header->setStretchLastSection(true);
    header->setHighlightSections(false);
    header->setSectionsMovable(false);
    for (int c = 0; c < 3; ++c)
        header->resizeSection(c, DefaultColumnWidths[c]);

    // The list's colours come from the theme, and come again when it changes.
    Table->setItemDelegate(new TSimReadableCellDelegate(AlertModel, Table));
    connect(&TThemeController::Instance(), &TThemeController::PaletteChanged, this,
            &TSimZentrikWindowX::ApplyListColors);
    ApplyListColors();

    SetFont(QApplication::font());
    SetFontColor(0);

    DataConfigText = SimDefaultDataConfig();
    Config = ParseSimDataConfig(DataConfigText);
    Direction = StrategyDirection(Config.WindowName);

    connect(header, &QHeaderView::sectionResized, this, [this](int column, int, int size) {
        // Only a drag by the user counts, so a WindowConfig nobody touched reads back as set.
        if (column < 3 && QApplication::mouseButtons() != Qt::NoButton)
            ColumnsResizedByUser = true;
        if (column == TSimAlertModel::DescriptionColumn)
            UpdateShownChars(size);
    });
    // The view reports a double click as one click and one double click (the closing release
    // is no second click), as the window system counts them.
    connect(Table, &QTableView::clicked, this, [this](const QModelIndex& i) { Select(i, 1); });
    connect(Table, &QTableView::doubleClicked, this,
            [this](const QModelIndex& i) { Select(i, 2); });
    connect(Table, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { ShowContextMenu(pos); });

    connect(Service.get(), &TSimService::StatusChanged, this, [this] {
        UpdateSources();
        if (NotifyStatus)
            emit OnAccountStatusChanged();
    });
    connect(Service.get(), &TSimService::DisplayChanged, this, &TSimZentrikWindowX::ApplyDisplay);
    connect(Service.get(), &TSimService::GeneratorChanged, this, [this] {
        Random.seed(Service->Properties().SimSeed ^ SimStableHash(Config.WindowName));
        UpdateSources();
    });
    connect(Service.get(), &TSimService::FeedChanged, this, [this] {
        RestartFeed();
        UpdateSources();
    });

    FeedTimer.setSingleShot(true);
    connect(&FeedTimer, &QTimer::timeout, this, &TSimZentrikWindowX::FeedTick);
    connect(&GeneratorTimer, &QTimer::timeout, this, &TSimZentrikWindowX::GeneratorTick);

    Random.seed(Service->Properties().SimSeed ^ SimStableHash(Config.WindowName));
    ApplyDisplay();
    RestartFeed();
    UpdateSources();
}

TSimZentrikWindowX::~TSimZentrikWindowX() {
    delete Table.data();
}

QWidget* TSimZentrikWindowX::Widget() {
    return Table;
}

void TSimZentrikWindowX::SetDataConfig(const QString& value) {
    const QString oldName = Config.WindowName;
    const bool wasInbox = Config.Inbox;
    DataConfigText = value.isEmpty() ? SimDefaultDataConfig() : value;
    Config = ParseSimDataConfig(DataConfigText);
    Direction = StrategyDirection(Config.WindowName);
    Random.seed(Service->Properties().SimSeed ^ SimStableHash(Config.WindowName));
    if (Config.Inbox != wasInbox) {
        RestartFeed();
        UpdateSources();
    }
    if (Config.WindowName != oldName && NotifyName)
        emit OnWindowNameChanged();
}

// "CW=70,64,72": the widths of the time, symbol and price columns (the description takes the
// rest). Other pairs are kept as given.
QString TSimZentrikWindowX::WindowConfig() const {
    if (!ColumnsResizedByUser || !Table)
        return WindowConfigText;
    QStringList widths;
    for (int c = 0; c < 3; ++c)
        widths << QString::number(Table->horizontalHeader()->sectionSize(c));
    return SimQueryWith(WindowConfigText, QStringLiteral("CW"), widths.join(QLatin1Char(',')));
}

void TSimZentrikWindowX::SetWindowConfig(const QString& value) {
    WindowConfigText = value;
    ColumnsResizedByUser = false;
    ApplyColumnWidths(value);
}

std::array<int, 3> SimColumnWidths(const QString& windowConfig) {
    const QStringList parts =
        SimQueryValue(windowConfig, QStringLiteral("CW")).split(QLatin1Char(','));
    std::array<int, 3> widths = {};
    for (int c = 0; c < 3; ++c) {
        bool ok = false;
        const int w = c < parts.size() ? parts[c].trimmed().toInt(&ok) : 0;
        widths[size_t(c)] = ok && w >= 16 && w <= 2000 ? w : DefaultColumnWidths[c];
    }
    return widths;
}

void TSimZentrikWindowX::ApplyColumnWidths(const QString& windowConfig) {
    if (!Table)
        return;
    const std::array<int, 3> widths = SimColumnWidths(windowConfig);
    for (int c = 0; c < 3; ++c)
        Table->horizontalHeader()->resizeSection(c, widths[size_t(c)]);
}

void TSimZentrikWindowX::SetFont(const QFont& font) {
    ListFont = font;
    if (!Table)
        return;
    Table->setFont(font);
    AlertModel->SetFont(font);
    Table->verticalHeader()->setDefaultSectionSize(QFontMetrics(font).height() + 6);
    // As many of the narrowest characters as the column holds (zero-width ones aside).
    const QFontMetrics metrics(font);
    NarrowestChar = metrics.horizontalAdvance(QLatin1Char(' '));
    for (const QChar c : QStringLiteral("il.,:;'|!"))
        NarrowestChar = std::max(1, std::min(NarrowestChar, metrics.horizontalAdvance(c)));
    UpdateShownChars(Table->horizontalHeader()->sectionSize(TSimAlertModel::DescriptionColumn));
}

void TSimZentrikWindowX::UpdateShownChars(int columnWidth) {
    AlertModel->SetShownChars(columnWidth / NarrowestChar + 2);
}

void TSimZentrikWindowX::SetFontColor(int32_t color) {
    FontColorValue = color;
    ApplyListColors();
}

void TSimZentrikWindowX::ApplyListColors() {
    if (!Table)
        return;
    // The application's palette: the one of the list's class catches up only later.
    QPalette palette = QGuiApplication::palette();
    const TSimListColors colors = SimListColors(palette);
    // A system colour (the default: the window text colour) is the theme's.
    const QColor text = ColorFromFontColor(FontColorValue);
    AlertModel->SetTextColor(text);
    palette.setColor(QPalette::Base, colors.Base);
    palette.setColor(QPalette::AlternateBase, colors.AlternateBase);
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Highlight, colors.Highlight);
        palette.setColor(group, QPalette::Text, text);
        palette.setColor(group, QPalette::HighlightedText, text);
    }
    // No style sheet (not even for the grid's colour): one would keep the palette the list
    // had when it was set, and the style draws the grid in the theme's colours anyway.
    Table->setPalette(palette);
}

TSimListColors SimListColors(const QPalette& palette) {
    // A calm list, light or dark as the theme is: traders look at it all day.
    if (zkTheme::IsDark(palette))
        return {QColor(0x1e, 0x20, 0x24), QColor(0x26, 0x29, 0x2e), QColor(0x23, 0x44, 0x66)};
    return {QColor(0xff, 0xff, 0xff), QColor(0xf4, 0xf6, 0xf9), QColor(0xcc, 0xe4, 0xf7)};
}

// --- TSimReadableCellDelegate -------------------------------------------------------------

struct TSimReadableCellDelegate::TText {
    std::optional<QTextLayout> Layout; // shaped, its glyphs kept
    QPointF At;                        // where it is drawn, from the cell's top left
    // Whether its glyphs may reach out of the cell (a slanted or tall letter), so that the
    // cell is clipped for it.
    bool Overhangs = true;
    // What it was laid out for.
    QSize Cell;
    QRect Place;
    QFont Font;
    Qt::Alignment Alignment;
    Qt::LayoutDirection Direction = Qt::LeftToRight;
    Qt::TextElideMode Elide = Qt::ElideRight;
};

struct TSimReadableCellDelegate::TCell {
    QSize Size;         // of the cell it was laid out for
    bool Plain = false; // text the style lays out itself (several lines): drawn as it does
    QStyleOptionViewItem::ViewItemFeatures Features;
    QIcon Icon;
    QSize DecorationSize;
    std::shared_ptr<const TText> Text; // none for an empty cell
    quint64 UsedAt = 0;
};

// What the place of a column's text was found for.
struct TSimReadableCellDelegate::TPlace {
    const QStyle* Style = nullptr;
    QSize Size;
    QStyleOptionViewItem::ViewItemFeatures Features;
    QSize DecorationSize;
    QStyleOptionViewItem::Position DecorationPosition = QStyleOptionViewItem::Left;
    Qt::Alignment DecorationAlignment, DisplayAlignment;
    Qt::LayoutDirection Direction = Qt::LeftToRight;
    QFont Font;
    QRect Text; // from the cell's top left
};

// Everything the style's drawing of a cell without its text depends on.
struct TSimReadableCellDelegate::TLookKey {
    const QStyle* Style = nullptr;
    QSize Size;
    int Scale = 1;
    qint64 Palette = 0;
    int Group = 0;
    QRgb Under = 0; // the list's background beneath the cell
    int State = 0;
    int GivenFeatures = 0, Features = 0;
    bool Reshaded = false, Emphasised = false;
    int BrushStyle = 0;
    QRgb BrushColor = 0;
    qint64 Icon = 0;
    QSize DecorationSize;
    int DecorationAlignment = 0, DecorationPosition = 0, DisplayAlignment = 0;
    int Direction = 0, ViewItemPosition = 0;
    bool ShowDecorationSelected = false;
    bool operator==(const TLookKey&) const = default;
};

size_t TSimReadableCellDelegate::TLookKeyHash::operator()(const TLookKey& k) const {
    return qHashMulti(0, quintptr(k.Style), k.Size.width(), k.Size.height(), k.Scale, k.Palette,
                      k.Group, k.Under, k.State, k.GivenFeatures, k.Features, k.Reshaded,
                      k.Emphasised, k.Icon, k.DecorationSize.width(), k.DecorationSize.height());
}

TSimReadableCellDelegate::TSimReadableCellDelegate(TSimAlertModel* model, QObject* parent)
    : QStyledItemDelegate(parent), Model(model) {
    if (!model)
        return;
    // Rows that change are laid out again; rows that go simply age out.
    connect(model, &QAbstractItemModel::modelReset, this, [this] { Forget(); });
    connect(model, &QAbstractItemModel::layoutChanged, this, [this] { Forget(); });
    connect(model, &QAbstractItemModel::dataChanged, this, [this] { Forget(); });
}

TSimReadableCellDelegate::~TSimReadableCellDelegate() = default;

void TSimReadableCellDelegate::SetCached(bool on) {
    CacheOn = on;
    Forget();
}

void TSimReadableCellDelegate::SetLooksKept(bool on) {
    LooksOn = on;
    Looks.clear();
}

void TSimReadableCellDelegate::Forget() const {
    Cells.clear();
    Places.clear();
    Texts.clear();
    Looks.clear();
}

void TSimReadableCellDelegate::Trim(int shownCells) const {
    // Twice what is shown, so scrolling back a little does not lay rows out again.
    const quint64 keep = quint64(std::max(0, shownCells)) * 2 + 64;
    if (Cells.size() <= keep)
        return;
    std::erase_if(
        Cells, [this, keep](const auto& cell) { return cell.second->UsedAt + keep / 2 < Paints; });
}

QColor TSimReadableCellDelegate::CellBackground(const QStyleOptionViewItem& option,
                                                const QBrush& fill) {
    const QPalette& p = option.palette;
    if (option.state & QStyle::State_Selected)
        return p.color(QPalette::Highlight);
    if (fill.style() == Qt::SolidPattern)
        return fill.color();
    return p.color((option.features & QStyleOptionViewItem::Alternate) ? QPalette::AlternateBase
                                                                       : QPalette::Base);
}

void TSimReadableCellDelegate::Emphasise(QStyleOptionViewItem& option,
                                         const QModelIndex& index) const {
    if (Model && index.model() == Model && Model->EmphasisedAt(index.row()))
        option.backgroundBrush = option.palette.brush(QPalette::Highlight);
}

quint64 TSimReadableCellDelegate::CellKey(quint64 serial, int column) {
    return serial * TSimAlertModel::ColumnCount + quint64(column);
}

QColor TSimReadableCellDelegate::Shown(const QColor& wanted, const QColor& background) const {
    for (const TShade& shade : Shades)
        if (shade.Wanted == wanted && shade.Background == background && shade.Shown.isValid())
            return shade.Shown;
    TShade& slot = Shades[NextShade];
    NextShade = (NextShade + 1) % Shades.size();
    slot = {wanted, background, zkTheme::Readable(wanted, background)};
    return slot.Shown;
}

void TSimReadableCellDelegate::initStyleOption(QStyleOptionViewItem* option,
                                               const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    Emphasise(*option, index);
    // The user's text colour may be one that vanishes on this theme's rows (black on a dark
    // list): it is drawn as near to it as reads on the row it is on.
    const QPalette& p = option->palette;
    const bool selected = option->state & QStyle::State_Selected;
    const QColor wanted = p.color(selected ? QPalette::HighlightedText : QPalette::Text);
    const QColor shown = Shown(wanted, CellBackground(*option, option->backgroundBrush));
    option->palette.setColor(QPalette::Text, shown);
    option->palette.setColor(QPalette::HighlightedText, shown);
}

namespace {
// Text the style would lay out over several lines, or pick a variant of: left to the style.
bool IsOneLine(const QString& text) {
    for (const QChar c : text)
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator || c == QChar(0x9c))
            return false;
    return true;
}

// What of an item's features may move its text (not its band, say).
constexpr QStyleOptionViewItem::ViewItemFeatures PlaceFeatures =
    QStyleOptionViewItem::WrapText | QStyleOptionViewItem::HasCheckIndicator |
    QStyleOptionViewItem::HasDisplay | QStyleOptionViewItem::HasDecoration;

const QStyle* StyleOf(const QStyleOptionViewItem& option) {
    return option.widget ? option.widget->style() : QApplication::style();
}
} // namespace

QRect TSimReadableCellDelegate::TextPlace(const QStyleOptionViewItem& opt) const {
    const QStyle* style = StyleOf(opt);
    // The text's place does not depend on the text where the whole cell shows as selected (a
    // table's cells): asked without it, the style does not shape it, and the place is the same
    // for every cell of the column.
    const int column = opt.index.column();
    const bool shared = opt.showDecorationSelected && column >= 0;
    TPlace* known = nullptr;
    if (shared) {
        if (Places.size() <= size_t(column))
            Places.resize(size_t(column) + 1);
        if (!Places[size_t(column)])
            Places[size_t(column)] = std::make_unique<TPlace>();
        known = Places[size_t(column)].get();
        if (known->Style == style && known->Size == opt.rect.size() &&
            known->Features == (opt.features & PlaceFeatures) &&
            known->DecorationSize == opt.decorationSize &&
            known->DecorationPosition == opt.decorationPosition &&
            known->DecorationAlignment == opt.decorationAlignment &&
            known->DisplayAlignment == opt.displayAlignment && known->Direction == opt.direction &&
            known->Font == opt.font)
            return known->Text;
    }
    // As the common style places an item's single line of text.
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, opt.widget) + 1;
    QStyleOptionViewItem place(opt);
    if (shared)
        place.text.clear();
    const QRect text = style->subElementRect(QStyle::SE_ItemViewItemText, &place, opt.widget)
                           .adjusted(margin, 0, -margin, 0)
                           .translated(-opt.rect.topLeft());
    if (known)
        *known = {style,
                  opt.rect.size(),
                  opt.features & PlaceFeatures,
                  opt.decorationSize,
                  opt.decorationPosition,
                  opt.decorationAlignment,
                  opt.displayAlignment,
                  opt.direction,
                  opt.font,
                  text};
    return text;
}

std::shared_ptr<const TSimReadableCellDelegate::TText>
TSimReadableCellDelegate::Shaped(int column, const QString& text,
                                 const QStyleOptionViewItem& opt) const {
    const QRect place = TextPlace(opt);
    if (Texts.size() <= size_t(column))
        Texts.resize(size_t(column) + 1);
    auto& texts = Texts[size_t(column)];
    const auto it = texts.find(text);
    if (it != texts.end()) {
        const TText& known = *it->second;
        if (known.Cell == opt.rect.size() && known.Place == place && known.Font == opt.font &&
            known.Alignment == opt.displayAlignment && known.Direction == opt.direction &&
            known.Elide == opt.textElideMode)
            return it->second;
    }
    ++ShapeCount;
    auto shaped = std::make_shared<TText>();
    shaped->Cell = opt.rect.size();
    shaped->Place = place;
    shaped->Font = opt.font;
    shaped->Alignment = opt.displayAlignment;
    shaped->Direction = opt.direction;
    shaped->Elide = opt.textElideMode;
    // As the common style lays out and elides an item's single line of text.
    QTextOption textOption;
    textOption.setWrapMode(QTextOption::ManualWrap);
    textOption.setTextDirection(opt.direction);
    textOption.setAlignment(QStyle::visualAlignment(opt.direction, opt.displayAlignment));
    auto layOut = [&](QTextLayout& layout) {
        // Keeps the shaped glyphs past endLayout: drawing would shape the text again.
        layout.setCacheEnabled(true);
        layout.setTextOption(textOption);
        layout.beginLayout();
        QTextLine line = layout.createLine();
        if (line.isValid()) {
            line.setLineWidth(place.width());
            line.setPosition(QPointF(0, 0));
        }
        layout.endLayout();
        return line;
    };
    shaped->Layout.emplace(text, opt.font);
    const QTextLine line = layOut(*shaped->Layout);
    const QRect layoutRect =
        QStyle::alignedRect(Qt::LayoutDirectionAuto, opt.displayAlignment,
                            shaped->Layout->boundingRect().size().toSize(), place);
    // Too wide: the style draws the text cut with an ellipsis, laid out anew.
    if (line.isValid() && line.naturalTextWidth() > place.width()) {
        shaped->Layout.emplace(
            QFontMetrics(opt.font).elidedText(text, opt.textElideMode, place.width()), opt.font);
        layOut(*shaped->Layout);
    }
    shaped->At = QPointF(place.x(), layoutRect.top());
    // Clipping each cell costs the painter a state and a region: where every glyph's ink is
    // well inside the cell, it is not needed.
    QRectF ink;
    for (const QGlyphRun& run : shaped->Layout->glyphRuns())
        ink |= run.boundingRect();
    shaped->Overhangs =
        ink.isNull() || !QRectF(QPointF(1, 1), QSizeF(opt.rect.size()) - QSizeF(2, 2))
                             .contains(ink.translated(shaped->At));
    // Only recent texts are worth keeping: a column of all different ones starts over.
    if (texts.size() >= 512)
        texts.clear();
    texts[text] = shaped;
    return shaped;
}

TSimReadableCellDelegate::TCell*
TSimReadableCellDelegate::LayOut(const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const {
    ++LayOutCount;
    auto cell = std::make_unique<TCell>();
    cell->Size = option.rect.size();
    // Of what the item delegate asks the model for, what this model answers: the text, its
    // font and alignment, and a mark. Anything else is left to the style.
    std::array<QModelRoleData, 4> roles = {
        QModelRoleData(Qt::DisplayRole), QModelRoleData(Qt::FontRole),
        QModelRoleData(Qt::TextAlignmentRole), QModelRoleData(Qt::DecorationRole)};
    index.multiData(roles);
    QStyleOptionViewItem opt(option);
    opt.index = index;
    if (const QVariant& font = roles[1].data(); font.isValid()) {
        opt.font = qvariant_cast<QFont>(font).resolve(opt.font);
        opt.fontMetrics = QFontMetrics(opt.font);
    }
    if (const QVariant& alignment = roles[2].data(); alignment.isValid())
        opt.displayAlignment = Qt::Alignment(alignment.toInt());
    if (const QVariant& mark = roles[3].data(); mark.isValid() && !mark.isNull()) {
        if (mark.userType() != QMetaType::QIcon) {
            cell->Plain = true;
        } else if (const QIcon icon = qvariant_cast<QIcon>(mark); !icon.isNull()) {
            opt.features |= QStyleOptionViewItem::HasDecoration;
            opt.icon = icon;
            const QIcon::Mode mode = !(opt.state & QStyle::State_Enabled)   ? QIcon::Disabled
                                     : (opt.state & QStyle::State_Selected) ? QIcon::Selected
                                                                            : QIcon::Normal;
            const QIcon::State state = opt.state & QStyle::State_Open ? QIcon::On : QIcon::Off;
            opt.decorationSize =
                opt.decorationSize.boundedTo(icon.actualSize(opt.decorationSize, mode, state));
        }
    }
    if (const QVariant& text = roles[0].data(); text.isValid() && !text.isNull()) {
        opt.features |= QStyleOptionViewItem::HasDisplay;
        opt.text = displayText(text, opt.locale);
    }
    cell->Features = opt.features & QStyleOptionViewItem::HasDecoration;
    cell->Icon = opt.icon;
    cell->DecorationSize = opt.decorationSize;
    if ((opt.features & QStyleOptionViewItem::WrapText) || !IsOneLine(opt.text))
        cell->Plain = true;
    else if (!cell->Plain && !opt.text.isEmpty())
        cell->Text = Shaped(index.column(), opt.text, opt);
    return (Cells[CellKey(Model->SerialAt(index.row()), index.column())] = std::move(cell)).get();
}

bool TSimReadableCellDelegate::PaintLook(QPainter* painter, const QStyleOptionViewItem& given,
                                         const QStyleOptionViewItem& option, bool reshaded,
                                         bool emphasised, const TCell& cell) const {
    if (!LooksOn)
        return false;
    // A picture shows what the style draws only where that is the same in every place: plain
    // colours (the style fills rows from the view's corner) on the list's plain background,
    // and a painter that neither turns, scales beyond whole device pixels, nor blends.
    const auto* view = qobject_cast<const QAbstractItemView*>(option.widget);
    if (!view || !view->viewport()->autoFillBackground())
        return false;
    const QWidget* viewport = view->viewport();
    const QBrush& under = viewport->palette().brush(viewport->backgroundRole());
    if (under.style() != Qt::SolidPattern || under.color().alpha() != 255)
        return false;
    const QPalette& palette = option.palette;
    for (const QPalette::ColorRole role :
         {QPalette::Base, QPalette::AlternateBase, QPalette::Highlight})
        if (palette.brush(role).style() != Qt::SolidPattern)
            return false;
    if (option.backgroundBrush.style() != Qt::NoBrush &&
        option.backgroundBrush.style() != Qt::SolidPattern)
        return false;
    const qreal scale = painter->device() ? painter->device()->devicePixelRatio() : 1.0;
    const QTransform to = painter->deviceTransform();
    const QPointF at = to.map(QPointF(option.rect.topLeft()));
    if (scale < 1 || scale != std::floor(scale) || to.m11() != scale || to.m22() != scale ||
        to.m12() != 0 || to.m21() != 0 || at.x() != std::floor(at.x()) ||
        at.y() != std::floor(at.y()) || painter->opacity() != 1.0 ||
        painter->compositionMode() != QPainter::CompositionMode_SourceOver)
        return false;

    const QStyle* style = view->style();
    TLookKey key;
    key.Style = style;
    key.Size = option.rect.size();
    key.Scale = int(scale);
    key.Palette = palette.cacheKey();
    key.Group = int(palette.currentColorGroup());
    key.Under = under.color().rgba();
    key.State = int(option.state);
    key.GivenFeatures = int(given.features);
    key.Features = int(option.features | cell.Features);
    key.Reshaded = reshaded;
    key.Emphasised = emphasised;
    key.BrushStyle = int(option.backgroundBrush.style());
    key.BrushColor = option.backgroundBrush.color().rgba();
    key.Icon = cell.Icon.cacheKey();
    key.DecorationSize = cell.DecorationSize;
    key.DecorationAlignment = int(option.decorationAlignment);
    key.DecorationPosition = int(option.decorationPosition);
    key.DisplayAlignment = int(option.displayAlignment);
    key.Direction = int(option.direction);
    key.ViewItemPosition = int(option.viewItemPosition);
    key.ShowDecorationSelected = option.showDecorationSelected;
    auto it = Looks.find(key);
    if (it == Looks.end()) {
        ++LookCount;
        // As the cell comes to be drawn: the list's background, the row as the view draws
        // it, the row shaded again for its serial, then the cell as the style draws it.
        QPixmap picture(option.rect.size() * key.Scale);
        picture.setDevicePixelRatio(scale);
        picture.fill(under.color());
        QPainter p(&picture);
        p.setRenderHints(painter->renderHints());
        p.setFont(painter->font());
        p.setPen(painter->pen());
        p.translate(-QPointF(option.rect.topLeft()));
        style->drawPrimitive(QStyle::PE_PanelItemViewRow, &given, &p, view);
        if (reshaded) {
            p.fillRect(given.rect, given.palette.brush(QPalette::Base));
            style->drawPrimitive(QStyle::PE_PanelItemViewRow, &option, &p, view);
        }
        QStyleOptionViewItem opt(option);
        opt.features |= cell.Features;
        opt.icon = cell.Icon;
        opt.decorationSize = cell.DecorationSize;
        if (emphasised)
            opt.backgroundBrush = opt.palette.brush(QPalette::Highlight);
        style->drawControl(QStyle::CE_ItemViewItem, &opt, &p, view);
        p.end();
        // Looks pile up only as palettes, widths and states come and go.
        if (Looks.size() >= 64)
            Looks.clear();
        it = Looks.emplace(key, std::move(picture)).first;
    }
    painter->drawPixmap(option.rect.topLeft(), it->second);
    return true;
}

void TSimReadableCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& given,
                                     const QModelIndex& index) const {
    // The view shades rows by their place; here a row's shade goes by its serial, so that a
    // row pushed down by a new one keeps its pixels. Where the two differ, the cell is shaded
    // again as the view would have shaded it for the other band.
    std::optional<QStyleOptionViewItem> reshaded;
    const auto* view = qobject_cast<const QAbstractItemView*>(given.widget);
    if (view && view->alternatingRowColors() && Model && index.model() == Model) {
        const bool alternate = (Model->SerialAt(index.row()) & 1) != 0;
        if (alternate != bool(given.features & QStyleOptionViewItem::Alternate)) {
            reshaded.emplace(given);
            reshaded->features ^= QStyleOptionViewItem::Alternate;
        }
    }
    const QStyleOptionViewItem& option = reshaded ? *reshaded : given;
    // The focused cell is drawn with its frame over the text: the style's own way.
    if (!CacheOn || !Model || index.model() != Model ||
        (option.state & (QStyle::State_HasFocus | QStyle::State_Editing))) {
        if (reshaded)
            Reshade(painter, given, *reshaded);
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    ++Paints;
    if (!(option.font == CellFont)) {
        Forget();
        CellFont = option.font;
    }
    const quint64 serial = Model->SerialAt(index.row());
    const auto it = serial ? Cells.find(CellKey(serial, index.column())) : Cells.end();
    TCell* cell = it != Cells.end() && it->second->Size == option.rect.size()
                      ? it->second.get()
                      : LayOut(option, index);
    cell->UsedAt = Paints;
    if (cell->Plain) {
        if (reshaded)
            Reshade(painter, given, *reshaded);
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    // The background, selection and mark as the style draws them; the text from the layout.
    const bool emphasised = Model->EmphasisedAt(index.row());
    const QBrush fill =
        emphasised ? option.palette.brush(QPalette::Highlight) : option.backgroundBrush;
    if (!PaintLook(painter, given, option, bool(reshaded), emphasised, *cell)) {
        if (reshaded)
            Reshade(painter, given, *reshaded);
        QStyleOptionViewItem opt(option);
        opt.index = index;
        opt.features |= cell->Features;
        opt.icon = cell->Icon;
        opt.decorationSize = cell->DecorationSize;
        opt.backgroundBrush = fill;
        StyleOf(option)->drawControl(QStyle::CE_ItemViewItem, &opt, painter, option.widget);
    }
    if (!cell->Text)
        return;
    const bool selected = option.state & QStyle::State_Selected;
    const QColor wanted =
        selected ? option.palette.color(QPalette::HighlightedText) : Model->TextColorOfRows();
    const QPointF at = QPointF(option.rect.topLeft()) + cell->Text->At;
    const QColor shown = Shown(wanted, CellBackground(option, fill));
    if (cell->Text->Overhangs) {
        painter->save();
        painter->setClipRect(option.rect);
        painter->setPen(shown);
        cell->Text->Layout->draw(painter, at);
        painter->restore();
    } else {
        const QPen pen = painter->pen();
        painter->setPen(shown);
        cell->Text->Layout->draw(painter, at);
        painter->setPen(pen);
    }
}

void TSimReadableCellDelegate::Reshade(QPainter* painter, const QStyleOptionViewItem& given,
                                       const QStyleOptionViewItem& reshaded) {
    painter->fillRect(given.rect, given.palette.brush(QPalette::Base));
    StyleOf(reshaded)->drawPrimitive(QStyle::PE_PanelItemViewRow, &reshaded, painter,
                                     reshaded.widget);
}

QString TSimZentrikWindowX::SuggestedFileName() const {
    const QString name = Config.WindowName.trimmed();
    return (name.isEmpty() ? QStringLiteral("Alerts") : name) + QStringLiteral(".zka");
}

void TSimZentrikWindowX::AddCustomMenuItem(const QString& text, int32_t id) {
    CustomItems.append(TMenuItem{text, id});
}

QMenu* TSimZentrikWindowX::ShowContextMenu(const QPoint& viewportPos) {
    if (!Table)
        return nullptr;
    const QModelIndex index = Table->indexAt(viewportPos);
    if (index.isValid())
        Table->selectRow(index.row());
    const std::shared_ptr<TSimAlert> alert = AlertModel->AlertAt(index.row());

    auto* menu = new QMenu(Table);
    menu->setObjectName(QStringLiteral("AlertContextMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QAction* copy = menu->addAction(tr("Copy Symbol"));
    copy->setEnabled(alert != nullptr);
    connect(copy, &QAction::triggered, this, [alert] {
        if (alert)
            QGuiApplication::clipboard()->setText(alert->AlertSymbol());
    });
    QAction* clear = menu->addAction(tr("Clear Alerts"));
    clear->setEnabled(AlertModel->rowCount() > 0);
    connect(clear, &QAction::triggered, this, [this] {
        AlertModel->Clear();
        UpdatePlaceholder();
    });
    if (!CustomItems.isEmpty())
        menu->addSeparator(); // runs of separators collapse, so a leading "-" costs nothing
    for (const TMenuItem& item : CustomItems) {
        if (item.Text == QLatin1String("-")) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(item.Text);
        action->setData(item.Id);
        // The client's handler may open dialogs or close the window: run it once the menu
        // has gone, not inside its event handling.
        connect(action, &QAction::triggered, this, [this, item] {
            QMetaObject::invokeMethod(
                this, [this, item] { emit OnCustomMenuItem(item.Text, item.Id); },
                Qt::QueuedConnection);
        });
    }
    menu->popup(Table->viewport()->mapToGlobal(viewportPos));
    return menu;
}

bool TSimZentrikWindowX::SelectAlert(const IAlertData& alert) {
    if (!Table)
        return false;
    const QString symbol = alert.AlertSymbol();
    const QDateTime time = alert.AlertTime();
    const double price = alert.Price();
    const QString description = alert.Description();
    for (int row = 0; row < AlertModel->rowCount(); ++row) {
        const std::shared_ptr<TSimAlert> a = AlertModel->AlertAt(row);
        if (a->AlertSymbol() == symbol && a->AlertTime() == time && a->Price() == price &&
            a->Description() == description) {
            const QModelIndex index = AlertModel->index(row, TSimAlertModel::SymbolColumn);
            Table->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                                QItemSelectionModel::Rows);
            Table->scrollTo(index);
            return true;
        }
    }
    return false;
}

std::shared_ptr<IAlertData> TSimZentrikWindowX::SelectedAlert() const {
    if (!Table)
        return nullptr;
    const QModelIndexList rows = Table->selectionModel()->selectedRows();
    return rows.isEmpty() ? nullptr : AlertModel->AlertAt(rows.constFirst().row());
}

void TSimZentrikWindowX::Select(const QModelIndex& index, int32_t type) {
    const std::shared_ptr<TSimAlert> alert = AlertModel->AlertAt(index.row());
    if (!alert)
        return;
    SelectionType = type;
    if (AllowSelection & type)
        emit OnAlertSelected(alert.get());
}

void TSimZentrikWindowX::ApplyDisplay() {
    const TSimService::TProperties& p = Service->Properties();
    if (Table)
        Table->setShowGrid(p.ShowGrid != 0);
    AlertModel->SetTimeOffset(p.TimeOffset);
}

void TSimZentrikWindowX::UpdatePlaceholder() {
    if (!Table)
        return;
    QString text;
    if (Feed || Config.Inbox)
        text = tr("Waiting for alerts...");
    else if (!Service->IsConnected())
        text = tr("Not connected");
    else if (Service->Properties().SimAlertInterval <= 0)
        text = tr("No alerts");
    else
        text = tr("Waiting for alerts...");
    if (text != Table->Placeholder) {
        Table->Placeholder = text;
        Table->viewport()->update();
    }
}

void TSimZentrikWindowX::UpdateSources() {
    const int interval = Service->Properties().SimAlertInterval;
    const bool generate = !Config.Inbox && !Feed && interval > 0 && Service->IsConnected();
    if (generate) {
        const int tick = std::max(interval, MinTickMs);
        if (!GeneratorTimer.isActive() || GeneratorTimer.interval() != tick) {
            GeneratorTimer.start(tick);
            GeneratorClock.start();
            GeneratorDueMs = interval;
        }
    } else {
        GeneratorTimer.stop();
    }
    UpdatePlaceholder();
}

void TSimZentrikWindowX::RestartFeed() {
    FeedTimer.stop();
    // An inbox window shows only what the user's programs send.
    Feed = Config.Inbox ? nullptr : Service->Feed();
    FeedIndex = 0;
    FeedClock.start();
    if (Feed && !Feed->Lines.empty())
        FeedTimer.start(int(std::min<qint64>(Feed->Lines.front().AtMs, INT32_MAX)));
}

void TSimZentrikWindowX::FeedTick() {
    if (!Feed)
        return;
    const qint64 now = FeedClock.elapsed();
    std::vector<std::shared_ptr<TSimAlert>> batch;
    const QDateTime time = QDateTime::currentDateTimeUtc();
    while (FeedIndex < Feed->Lines.size() && Feed->Lines[FeedIndex].AtMs <= now) {
        const TSimFeedLine& line = Feed->Lines[FeedIndex++];
        if (!line.Strategy.isEmpty() && line.Strategy != Config.WindowName)
            continue;
        const double price = line.Price ? *line.Price : Service->PriceOf(line.Symbol);
        batch.push_back(std::make_shared<TSimAlert>(line.Symbol, line.Skip ? 1 : 0, time, price,
                                                    line.Description));
        batch.back()->Origin = TAlertSource::Feed;
    }
    if (FeedIndex < Feed->Lines.size())
        FeedTimer.start(int(std::clamp<qint64>(Feed->Lines[FeedIndex].AtMs - now, 0, INT32_MAX)));
    Deliver(std::move(batch));
}

std::shared_ptr<TSimAlert> TSimZentrikWindowX::MakeRandomAlert() {
    const std::vector<TSimTicker>& tickers = SimTickers();
    // A few tries to find a symbol inside the price range; a range nothing fits yields none.
    for (int attempt = 0; attempt < 8; ++attempt) {
        QString symbol;
        if (!Config.Symbols.isEmpty())
            symbol = Config.Symbols[int(Random() % quint32(Config.Symbols.size()))];
        else
            symbol = QString::fromLatin1(tickers[Random() % tickers.size()].Symbol);
        const double price = Service->PriceOf(symbol);
        if ((Config.MinPrice && price < *Config.MinPrice) ||
            (Config.MaxPrice && price > *Config.MaxPrice))
            continue;
        const TAlertKind* kind = nullptr;
        do
            kind = &AlertKinds[Random() % std::size(AlertKinds)];
        while (Direction != 0 && kind->Direction != Direction);
        std::uniform_real_distribution<double> amount(0.2, 4.5);
        QString text;
        if (kind->Percent)
            text = QStringLiteral("%1 (%2%3%)")
                       .arg(QLatin1String(kind->Text),
                            kind->Direction < 0 ? QStringLiteral("-") : QStringLiteral("+"))
                       .arg(amount(Random), 0, 'f', 2);
        else
            text = QStringLiteral("%1 (%2x)")
                       .arg(QLatin1String(kind->Text))
                       .arg(1.5 + amount(Random), 0, 'f', 1);
        auto alert =
            std::make_shared<TSimAlert>(symbol, 0, QDateTime::currentDateTimeUtc(), price, text);
        alert->Direction = kind->Direction;
        return alert;
    }
    return nullptr;
}

void TSimZentrikWindowX::GeneratorTick() {
    const int interval = Service->Properties().SimAlertInterval;
    if (interval <= 0)
        return;
    const qint64 now = GeneratorClock.elapsed();
    std::vector<std::shared_ptr<TSimAlert>> batch;
    qint64 count = 0;
    while (GeneratorDueMs <= now && count < MaxAlertsPerTick) {
        GeneratorDueMs += interval;
        ++count;
        if (std::shared_ptr<TSimAlert> alert = MakeRandomAlert())
            batch.push_back(std::move(alert));
    }
    if (GeneratorDueMs <= now)
        GeneratorDueMs = now + interval; // fell behind: drop the backlog rather than burst
    Deliver(std::move(batch));
}

void TSimZentrikWindowX::AddExternalAlerts(const QList<TAlertData>& alerts) {
    std::vector<std::shared_ptr<TSimAlert>> batch;
    batch.reserve(size_t(alerts.size()));
    for (const TAlertData& a : alerts) {
        batch.push_back(
            std::make_shared<TSimAlert>(a.Symbol, a.Skip, a.Time, a.AlertPrice, a.Text));
        // What is not the broker's came from the user's own programs.
        batch.back()->Origin =
            a.Origin == TAlertSource::Broker ? TAlertSource::Broker : TAlertSource::Inbox;
        batch.back()->Emphasised = a.Emphasised;
    }
    Deliver(std::move(batch));
}

void TSimZentrikWindowX::Deliver(std::vector<std::shared_ptr<TSimAlert>> alerts) {
    if (alerts.empty() || !Table)
        return;
    // Keep the rows the user scrolled to where they are while new ones arrive above.
    QScrollBar* bar = Table->verticalScrollBar();
    const int before = bar->value();
    const int shown = AlertModel->AddAlerts(alerts);
    if (before > 0)
        bar->setValue(before + shown * Table->verticalHeader()->defaultSectionSize());
    UpdatePlaceholder();
    if (!NotifyEach)
        return;
    // A handler may close the window; stop as soon as we are gone. The batch keeps each
    // alert alive for its handler.
    QPointer<TSimZentrikWindowX> self(this);
    for (const std::shared_ptr<TSimAlert>& alert : alerts) {
        emit OnNewAlert(alert.get());
        if (!self || !NotifyEach)
            return;
    }
}
