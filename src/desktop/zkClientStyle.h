#pragma once

// The application's style as Qt chose it, wrapped so that what start-up need not pay for is
// made when first drawn: Qt's styles build the menu bar's overflow arrow from a PNG file, and
// reading any image file loads every image-format plugin (with the JPEG codec) to ask each
// whether it would read it, a millisecond of the main thread before the first window, for an
// arrow shown only when the menus do not fit.

class QStyle;
class QString;

namespace zkClientStyle {

// Call once the application object exists and before the first widget.
void Install();

// The name of the style under any wrappers ("fusion", ...): what a widget asks to know how the
// style draws.
QString BaseName(const QStyle* style);

} // namespace zkClientStyle
