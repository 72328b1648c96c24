#pragma once

#include <QImage>
#include <QList>
#include <QRect>
#include <QRegion>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <optional>

class QTimer;

// A colour value as settings files give it: red in the lowest byte, then green, then blue. A
// value whose top byte is 0xFF names a system colour by the index in its lowest byte.
using TColor = uint32_t;
inline constexpr TColor clWhite = 0x00FFFFFF;
inline constexpr int RegionBatchSize = 2000;

// Integer text of a colour: what TryParseIntegerText takes, plus hexadecimal up to 8 digits
// ("$FF00000F"), since system colour values lie beyond the signed range.
bool TryParseColorText(const QString& text, TColor& color);
// The colour as red, green and blue, system colours looked up in the application's palette.
// An index the palette has no colour for resolves to white, the default cut-out colour.
QRgb ResolveColor(TColor color);

// The row runs of a picture: for each row, one rectangle per run of pixels whose red, green and
// blue differ from cutOut (alpha is ignored), one pixel high, shifted by the offsets. In row
// order, left to right.
QList<QRect> BitmapRowRuns(const QImage& picture, QRgb cutOut, int offsetX, int offsetY);
// The union of those runs for the colour `color`, gathered RegionBatchSize rectangles at a
// time. Needs no widget (and no screen unless `color` names a system colour).
QRegion RegionFromBitmap(const QImage& picture, TColor color, int offsetX, int offsetY);

// The picture as the splash paints it: pixels of the cut-out colour fully transparent, all others
// fully opaque (alpha is ignored, as for the shape). Without a colour everything is opaque.
QImage CutOutPicture(const QImage& picture, std::optional<QRgb> cutOut);

// Reads a BMP file; a missing, unreadable, truncated or non-BMP file gives a null image.
QImage LoadSplashBitmap(const QString& fileName);

// The start-up splash: the picture "splash.bmp" of the working directory, shaped by cutting out
// one colour, on top of everything until its time is up or it is clicked.
class TSplashForm : public QWidget {
    Q_OBJECT
public:
    explicit TSplashForm(QWidget* parent = nullptr);

    // Creates, loads and (when there is a picture) shows the splash, closing itself after
    // `interval` milliseconds. The splash owns itself; the pointer is for callers that watch it.
    static TSplashForm* ShowSplash(int interval);
    void LoadSplash();

    const QImage& splashBitmap() const { return SplashBitmap; }
    const QString& transparentSetting() const { return TransparentSetting; }
    TColor transparentColor() const { return TransparentColor; }
    QTimer* splashTimer() const { return SplashTimer; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormPaint();
    void FormClick();
    void FormClose();
    void SplashTimerTimer();
    // Cuts the window to the picture; false when nothing of the picture is left to show.
    bool ApplyShape();
    // Takes TransparentColor from the setting; false when the setting turns the cut-out off.
    bool UpdateTransparentColor();
    const QImage& DisplayedBitmap();

    QImage SplashBitmap;
    QString TransparentSetting;
    TColor TransparentColor = clWhite;
    QTimer* SplashTimer = nullptr;
    // The painted form of the picture, kept until the cut-out colour changes.
    QImage DisplayedImage;
    std::optional<QRgb> DisplayedCutOut;
    bool DisplayedValid = false;
};
