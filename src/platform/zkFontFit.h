#pragma once

// Windows and strips drawn for a small desktop font keep their designed sizes, and still show
// their texts whole in a larger one (GNOME's Cantarell 11, say): a fixed window grows to what its
// layout needs, a text in a fixed width takes a smaller font, and only past a floor is cut
// short.

#include <QFont>
#include <QSize>
#include <QString>

#include <functional>
#include <optional>

class QWidget;

namespace zkFontFit {

// When a window grows past its designed size: in a font larger than the one it was designed for
// (its layout asks a little more than the design even in that font, and takes the squeeze
// without harm), or in any font, for a window that has more rows than it was designed with
// (squeezed, a control of fixed height would cover the rows after it).
enum class TGrowth { LargerFont, InAnyFont };

// The window keeps the fixed size it was designed with, or grows to what its layout needs when
// that is more, as growth says; again whenever it is shown or its font or style changes.
void FixedSizeAtLeast(QWidget* window, QSize designed, TGrowth growth = TGrowth::LargerFont);
// The same for the least size of a window the user sizes.
void MinimumSizeAtLeast(QWidget* window, QSize designed);

// The font a one-line text is drawn in to fit width: the font itself when the text fits, else
// the largest smaller size, down to minimumScale of its size, in which it does; nothing when
// even that is too wide (the caller cuts the text then, in its own font).
std::optional<QFont> FittingFont(const QFont& font, const QString& text, int width,
                                 qreal minimumScale);
// The largest size of font, in whole tenths of a point from startSize down to minimumScale of
// its size, for which fits says yes; nothing when none does or the font is sized in pixels.
std::optional<QFont> LargestFitting(const QFont& font, qreal minimumScale, qreal startSize,
                                    const std::function<bool(const QFont&)>& fits);

} // namespace zkFontFit
