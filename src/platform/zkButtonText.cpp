#include "zkButtonText.h"

#include <QFontMetrics>
#include <QPushButton>
#include <QStyle>

void FitButtonCaptions(QPushButton* button, const QStringList& captions) {
    // Room for the text: the button less its frame and a little air on both sides.
    const int room =
        button->width() - 2 * button->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) - 4;
    QFont font = button->font();
    auto fits = [&](const QFont& f) {
        const QFontMetrics metrics(f);
        for (const QString& caption : captions)
            if (metrics.size(Qt::TextShowMnemonic, caption).width() > room)
                return false;
        return true;
    };
    while (!fits(font) && font.pointSizeF() > 6.0)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    if (font != button->font())
        button->setFont(font);
}
