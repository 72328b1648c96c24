#include "zkSplashForm.h"

#include "config/zkConfig.h"
#include "config/zkSettings.h"
#include "platform/zkInstallation.h"

#include <QBuffer>
#include <QCloseEvent>
#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QScreen>
#include <QTimer>

#include <limits>
#include <vector>

// --- colours ---------------------------------------------------------------------------------

bool TryParseColorText(const QString& text, TColor& color) {
    int32_t value = 0;
    if (TryParseIntegerText(text, value)) {
        color = TColor(value);
        return true;
    }
    // The profile rules stop at the signed range; "$FF000005" still names a system colour.
    int i = 0;
    while (i < text.size() && text[i] == QLatin1Char(' '))
        ++i;
    QStringView rest = QStringView(text).mid(i);
    if (rest.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        rest = rest.mid(2);
    else if (rest.startsWith(QLatin1Char('$')) || rest.startsWith(QLatin1Char('x')) ||
             rest.startsWith(QLatin1Char('X')))
        rest = rest.mid(1);
    else
        return false;
    if (rest.isEmpty() || rest.size() > 8)
        return false;
    uint32_t parsed = 0;
    for (const QChar c : rest) {
        const int digit =
            QChar::isDigit(c.unicode())                        ? c.unicode() - '0'
            : (c >= QLatin1Char('a') && c <= QLatin1Char('f')) ? c.unicode() - 'a' + 10
            : (c >= QLatin1Char('A') && c <= QLatin1Char('F')) ? c.unicode() - 'A' + 10
                                                               : -1;
        if (digit < 0)
            return false;
        parsed = parsed << 4 | uint32_t(digit);
    }
    color = parsed;
    return true;
}

namespace {

struct TSystemColor {
    QPalette::ColorGroup Group;
    QPalette::ColorRole Role;
};

// The classic system colour indexes and the palette entries that play their part here.
bool systemColorRole(int index, TSystemColor& out) {
    using P = QPalette;
    static const struct {
        int Index;
        TSystemColor Color;
    } table[] = {
        {0, {P::Active, P::Button}},             // scroll bar
        {1, {P::Active, P::Dark}},               // desktop
        {2, {P::Active, P::Highlight}},          // active caption
        {3, {P::Inactive, P::Highlight}},        // inactive caption
        {4, {P::Active, P::Window}},             // menu
        {5, {P::Active, P::Base}},               // window
        {6, {P::Active, P::Shadow}},             // window frame
        {7, {P::Active, P::WindowText}},         // menu text
        {8, {P::Active, P::Text}},               // window text
        {9, {P::Active, P::HighlightedText}},    // caption text
        {10, {P::Active, P::Window}},            // active border
        {11, {P::Inactive, P::Window}},          // inactive border
        {12, {P::Active, P::Mid}},               // application workspace
        {13, {P::Active, P::Highlight}},         // highlight
        {14, {P::Active, P::HighlightedText}},   // highlight text
        {15, {P::Active, P::Button}},            // button face
        {16, {P::Active, P::Dark}},              // button shadow
        {17, {P::Disabled, P::Text}},            // grey text
        {18, {P::Active, P::ButtonText}},        // button text
        {19, {P::Inactive, P::HighlightedText}}, // inactive caption text
        {20, {P::Active, P::Light}},             // button highlight
        {21, {P::Active, P::Shadow}},            // 3D dark shadow
        {22, {P::Active, P::Midlight}},          // 3D light
        {23, {P::Active, P::ToolTipText}},       // info text
        {24, {P::Active, P::ToolTipBase}},       // info background
        {26, {P::Active, P::Link}},              // hot light
        {27, {P::Active, P::Highlight}},         // active caption gradient
        {28, {P::Inactive, P::Highlight}},       // inactive caption gradient
        {29, {P::Active, P::Highlight}},         // menu highlight
        {30, {P::Active, P::Window}},            // menu bar
    };
    for (const auto& entry : table) {
        if (entry.Index == index) {
            out = entry.Color;
            return true;
        }
    }
    return false;
}

} // namespace

QRgb ResolveColor(TColor color) {
    if ((color >> 24) == 0xFF) {
        TSystemColor system;
        if (!systemColorRole(int(color & 0xFF), system))
            return qRgb(255, 255, 255);
        const QPalette palette = qGuiApp ? QGuiApplication::palette() : QPalette(Qt::lightGray);
        return palette.color(system.Group, system.Role).rgb();
    }
    return qRgb(int(color & 0xFF), int(color >> 8 & 0xFF), int(color >> 16 & 0xFF));
}

// --- the shape -------------------------------------------------------------------------------

namespace {

// A 32-bit view of the picture, converting only when the pixels are in another form.
QImage as32Bit(const QImage& picture) {
    if (picture.format() == QImage::Format_RGB32 || picture.format() == QImage::Format_ARGB32)
        return picture;
    return picture.convertToFormat(QImage::Format_ARGB32);
}

template <typename AddRun>
void scanRowRuns(const QImage& image, QRgb cutOut, int offsetX, int offsetY, AddRun&& addRun) {
    const QRgb key = cutOut & RGB_MASK;
    const int width = image.width();
    const int height = image.height();
    for (int y = 0; y < height; ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        int x = 0;
        while (x < width) {
            while (x < width && (row[x] & RGB_MASK) == key)
                ++x;
            const int start = x;
            while (x < width && (row[x] & RGB_MASK) != key)
                ++x;
            if (x > start)
                addRun(QRect(start + offsetX, y + offsetY, x - start, 1));
        }
    }
}

} // namespace

QImage CutOutPicture(const QImage& picture, std::optional<QRgb> cutOut) {
    const QImage image = as32Bit(picture);
    // Every pixel ends up either fully opaque or fully clear (all zero), which is valid
    // premultiplied data and draws without conversion.
    QImage out(image.size(), QImage::Format_ARGB32_Premultiplied);
    // No key at all: a value no pixel's colour part can equal.
    const QRgb key = cutOut ? (*cutOut & RGB_MASK) : 0xFF000000u;
    // The sizes are read once: the inner loop then has no calls and the compiler vectorises it.
    const int width = image.width();
    const int height = image.height();
    for (int y = 0; y < height; ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        auto* row = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const QRgb rgb = in[x] & RGB_MASK;
            row[x] = rgb == key ? 0 : (rgb | 0xFF000000u);
        }
    }
    return out;
}

QList<QRect> BitmapRowRuns(const QImage& picture, QRgb cutOut, int offsetX, int offsetY) {
    QList<QRect> runs;
    scanRowRuns(as32Bit(picture), cutOut, offsetX, offsetY,
                [&](const QRect& run) { runs.append(run); });
    return runs;
}

QRegion RegionFromBitmap(const QImage& picture, TColor color, int offsetX, int offsetY) {
    const QImage image = as32Bit(picture);
    const QRgb cutOut = ResolveColor(color);
    QRegion shape;
    std::vector<QRect> batch;
    batch.reserve(RegionBatchSize);
    const auto flush = [&] {
        if (batch.empty())
            return;
        // Row runs come sorted, one pixel high and never touching sideways: exactly the band
        // form a region keeps, so a batch becomes a region without any merging.
        QRegion part;
        part.setRects(batch.data(), int(batch.size()));
        shape += part; // appends in place: batches arrive below what is gathered
        batch.clear();
    };
    scanRowRuns(image, cutOut, offsetX, offsetY, [&](const QRect& run) {
        batch.push_back(run);
        if (int(batch.size()) == RegionBatchSize)
            flush();
    });
    flush();
    return shape;
}

// --- loading ---------------------------------------------------------------------------------

namespace {

uint32_t le32(const QByteArray& data, int at) {
    const auto* p = reinterpret_cast<const uchar*>(data.constData()) + at;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t le16(const QByteArray& data, int at) {
    const auto* p = reinterpret_cast<const uchar*>(data.constData()) + at;
    return uint16_t(p[0] | p[1] << 8);
}

// Qt's reader fills the rows a cut-short file lacks with whatever memory held, so make sure
// the pixel data the headers promise is all there before decoding.
bool bitmapIsComplete(const QByteArray& data) {
    if (data.size() < 18 || !data.startsWith("BM"))
        return false;
    const int64_t fileSize = data.size();
    const int64_t pixelsAt = le32(data, 10);
    const uint32_t headerSize = le32(data, 14);
    int64_t width = 0, height = 0, bitsPerPixel = 0, compression = 0, imageSize = 0;
    if (headerSize == 12 && fileSize >= 26) {
        width = le16(data, 18);
        height = le16(data, 20);
        bitsPerPixel = le16(data, 24);
    } else if (headerSize >= 40 && fileSize >= 14 + 40) {
        width = int32_t(le32(data, 18));
        height = int32_t(le32(data, 22));
        bitsPerPixel = le16(data, 28);
        compression = le32(data, 30);
        imageSize = le32(data, 34);
    } else {
        return false;
    }
    if (width <= 0 || height == 0 || bitsPerPixel == 0 || pixelsAt >= fileSize)
        return false;
    if (height < 0)
        height = -height; // rows stored top down
    constexpr int64_t BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3, BI_ALPHABITFIELDS = 6;
    if (compression == BI_RGB || compression == BI_BITFIELDS || compression == BI_ALPHABITFIELDS) {
        const int64_t rowBytes = (width * bitsPerPixel + 31) / 32 * 4;
        // Divided rather than multiplied: a hostile header's rows times height can pass the
        // 64-bit range.
        return rowBytes <= (fileSize - pixelsAt) / height;
    }
    if (compression == BI_RLE8 || compression == BI_RLE4)
        return pixelsAt + imageSize <= fileSize;
    return false;
}

// The common splash: uncompressed 24-bit pixels after a BITMAPINFOHEADER (or a later header).
// Decoded here in one pass into what the image reader gives for it, at a small part of the
// reader's cost, which was a tenth of the processor time before the first idle. Anything else
// gives a null image and goes to the reader. The data has passed bitmapIsComplete.
QImage decodeRgb24(const QByteArray& data) {
    if (data.size() < 14 + 40 || le32(data, 14) < 40 || le16(data, 26) != 1 ||
        le16(data, 28) != 24 || le32(data, 30) != 0)
        return {};
    const int64_t width = int32_t(le32(data, 18));
    const int64_t rawHeight = int32_t(le32(data, 22));
    const int64_t height = rawHeight < 0 ? -rawHeight : rawHeight;
    // Sizes the reader would refuse or could not hold go to it, to be refused there.
    if (width <= 0 || width > 32767 || height == 0 || height > 32767)
        return {};
    const int64_t pixelsAt = le32(data, 10);
    const int64_t rowBytes = (width * 3 + 3) / 4 * 4;
    if (pixelsAt + rowBytes * height > data.size())
        return {};
    QImage image(int(width), int(height), QImage::Format_RGB32);
    if (image.isNull())
        return {};
    const auto* pixels = reinterpret_cast<const uchar*>(data.constData()) + pixelsAt;
    for (int64_t y = 0; y < height; ++y) {
        // Rows are stored bottom up unless the height is negative.
        const uchar* in = pixels + (rawHeight > 0 ? height - 1 - y : y) * rowBytes;
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(int(y)));
        for (int64_t x = 0; x < width; ++x, in += 3)
            out[x] = qRgb(in[2], in[1], in[0]);
    }
    return image;
}

} // namespace

QImage LoadSplashBitmap(const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // Mapped rather than read: no copy of the whole file, and its pages come in a few large
    // steps instead of one fault per page of a fresh buffer. The image decoded from it owns
    // its pixels, so the mapping may go with the file.
    QByteArray data;
    const qint64 size = file.size();
    if (uchar* mapped =
            size > 0 && size <= std::numeric_limits<int>::max() ? file.map(0, size) : nullptr)
        data = QByteArray::fromRawData(reinterpret_cast<const char*>(mapped), qsizetype(size));
    else
        data = file.readAll();
    if (!bitmapIsComplete(data))
        return {};
    if (QImage decoded = decodeRgb24(data); !decoded.isNull())
        return decoded;
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "bmp");
    return reader.read(); // null when the reader refuses it
}

// --- the window ------------------------------------------------------------------------------

namespace {

// X11 draws nothing of a window outside its shape. Elsewhere the shape may only take input (a
// Wayland compositor) or nothing at all (the offscreen platform): the cut-out pixels must then
// be see-through themselves.
bool ShapeHidesCutOut() {
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

} // namespace

TSplashForm::TSplashForm(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("SplashForm"));
    setWindowTitle(tr("Splash Form"));
    setAttribute(Qt::WA_DeleteOnClose);
    // Where the window system cannot shape windows (or only shapes their input), the cut-out
    // pixels are painted see-through instead; with shaping they are never shown anyway.
    setAttribute(Qt::WA_TranslucentBackground);
    SplashTimer = new QTimer(this);
    SplashTimer->setObjectName(QStringLiteral("SplashTimer"));
    connect(SplashTimer, &QTimer::timeout, this, &TSplashForm::SplashTimerTimer);
}

TSplashForm* TSplashForm::ShowSplash(int interval) {
    auto* form = new TSplashForm;
    form->LoadSplash();
    if (!form->SplashBitmap.isNull()) {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->geometry();
            form->move(area.x() + (area.width() - form->width()) / 2,
                       area.y() + (area.height() - form->height()) / 2);
        }
        // Shape it before it first appears, so the cut-out colour never flashes on screen.
        if (form->ApplyShape())
            form->show();
    }
    form->SplashTimer->setInterval(qMax(0, interval));
    form->SplashTimer->start();
    return form;
}

void TSplashForm::LoadSplash() {
    SplashBitmap = LoadSplashBitmap(zkInstallation::DataFile(QStringLiteral("splash.bmp")));
    setFixedSize(SplashBitmap.size());
    TransparentSetting =
        ReadStringValue(TSettingsStore::IniFile(SettingsIniPath()), QStringLiteral("Settings"),
                        QStringLiteral("SplashTransparentColor"), QString());
}

void TSplashForm::paintEvent(QPaintEvent*) {
    FormPaint();
}

void TSplashForm::FormPaint() {
    {
        QPainter painter(this);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(0, 0, DisplayedBitmap());
    }
    ApplyShape();
}

bool TSplashForm::UpdateTransparentColor() {
    if (TransparentSetting == QLatin1String("NONE"))
        return false;
    if (!TransparentSetting.isEmpty()) {
        TColor color = clWhite;
        TransparentColor = TryParseColorText(TransparentSetting, color) ? color : clWhite;
    }
    return true;
}

const QImage& TSplashForm::DisplayedBitmap() {
    std::optional<QRgb> cutOut;
    if (UpdateTransparentColor())
        cutOut = ResolveColor(TransparentColor) & RGB_MASK;
    // An opaque picture is drawn as it is when nothing is cut out, or where the window's shape
    // keeps the cut-out pixels off the screen: the see-through copy, half a megabyte of fresh
    // memory for the common splash, was a tenth of the splash's cost at start-up.
    if (!SplashBitmap.hasAlphaChannel() && (!cutOut || ShapeHidesCutOut()))
        return SplashBitmap;
    if (!DisplayedValid || cutOut != DisplayedCutOut) {
        DisplayedCutOut = cutOut;
        DisplayedValid = true;
        DisplayedImage = CutOutPicture(SplashBitmap, cutOut);
    }
    return DisplayedImage;
}

bool TSplashForm::ApplyShape() {
    if (!UpdateTransparentColor())
        return true; // the whole rectangle shows
    const QRegion shape = RegionFromBitmap(SplashBitmap, TransparentColor, 0, 0);
    if (shape.isEmpty()) {
        // An empty mask means "no mask" to Qt, which would show the whole rectangle; a picture
        // made only of the cut-out colour has nothing to show.
        hide();
        return false;
    }
    // Setting an unchanged shape again only costs the window system a round trip.
    if (shape != mask())
        setMask(shape);
    return true;
}

void TSplashForm::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        FormClick();
}

void TSplashForm::FormClick() {
    SplashTimer->stop();
    close();
}

void TSplashForm::SplashTimerTimer() {
    SplashTimer->stop();
    close();
}

void TSplashForm::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept();
}

void TSplashForm::FormClose() {
    // WA_DeleteOnClose releases the window once the close has gone through.
    SplashTimer->stop();
}
