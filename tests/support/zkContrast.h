#pragma once

// Contrast as a screenshot shows it, for the theme tests: in a region of a picture the most
// common colour is the background, and the pixel that stands out most from it is the colour
// its text was drawn in (the stems of text are whole pixels of it).

#include "desktop/zkTheme.h"

#include <QColor>
#include <QHash>
#include <QImage>
#include <QRect>

#include <functional>

struct TRegionContrast {
    QColor Background;
    QColor Text; // invalid when no pixel but the background (and none the filter takes)
    double Ratio = 1.0;
};

// textFilter, when given, picks the pixels that can be text (say, the bluish ones of a link).
inline TRegionContrast MeasureContrast(const QImage& picture, const QRect& region,
                                       const std::function<bool(const QColor&)>& textFilter = {}) {
    const QImage image = picture.convertToFormat(QImage::Format_RGB32);
    const QRect r = region.intersected(image.rect());
    QHash<QRgb, int> counts;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            ++counts[image.pixel(x, y) & 0xFFFFFF];
    TRegionContrast result;
    int most = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > most) {
            most = it.value();
            result.Background = QColor(it.key());
        }
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        const QColor c(it.key());
        if (textFilter && !textFilter(c))
            continue;
        const double ratio = zkTheme::ContrastRatio(c, result.Background);
        if (ratio > result.Ratio) {
            result.Ratio = ratio;
            result.Text = c;
        }
    }
    return result;
}

inline QString Describe(const TRegionContrast& c) {
    return QStringLiteral("text %1 on %2: %3:1")
        .arg(c.Text.name(), c.Background.name())
        .arg(c.Ratio, 0, 'f', 2);
}
