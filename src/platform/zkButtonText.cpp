#include "zkButtonText.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPointer>
#include <QPushButton>
#include <QStyle>

namespace {

bool CaptionsFit(const QPushButton* button, const QStringList& captions, const QFont& font) {
    // Room for the text: the button less its frame and a little air on both sides.
    const int room =
        button->width() - 2 * button->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) - 4;
    const QFontMetrics metrics(font);
    for (const QString& caption : captions)
        if (metrics.size(Qt::TextShowMnemonic, caption).width() > room)
            return false;
    return true;
}

// Fits the buttons when the window is first shown, then goes.
class TShowFitter : public QObject {
public:
    TShowFitter(QWidget* window, const QList<QPair<QPushButton*, QStringList>>& buttons)
        : QObject(window) {
        for (const auto& [button, captions] : buttons)
            Buttons.append({button, captions});
        window->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && watched == parent()) {
            watched->removeEventFilter(this);
            QList<QPair<QPushButton*, QStringList>> buttons;
            for (const auto& [button, captions] : std::as_const(Buttons))
                if (button)
                    buttons.append({button.data(), captions});
            FitButtonGroupCaptions(buttons);
            deleteLater();
        }
        return false;
    }

private:
    QList<QPair<QPointer<QPushButton>, QStringList>> Buttons;
};

} // namespace

void FitButtonCaptions(QPushButton* button, const QStringList& captions) {
    FitButtonGroupCaptions({{button, captions}});
}

void FitButtonGroupCaptions(const QList<QPair<QPushButton*, QStringList>>& buttons) {
    if (buttons.isEmpty())
        return;
    QFont font = buttons.first().first->font();
    auto fits = [&](const QFont& f) {
        for (const auto& [button, captions] : buttons)
            if (!CaptionsFit(button, captions, f))
                return false;
        return true;
    };
    while (!fits(font) && font.pointSizeF() > 6.0)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    for (const auto& b : buttons)
        if (font != b.first->font())
            b.first->setFont(font);
}

void FitButtonGroupCaptionsWhenShown(QWidget* window,
                                     const QList<QPair<QPushButton*, QStringList>>& buttons) {
    new TShowFitter(window, buttons);
}
