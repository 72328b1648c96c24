#pragma once

#include <QList>
#include <QPair>
#include <QStringList>

class QPushButton;

// Buttons keep the sizes their windows were designed with; where a caption would not fit in
// the desktop's font, the button's font is made smaller (down to 6 points) until every one of
// its captions fits, instead of cutting the caption off.
void FitButtonCaptions(QPushButton* button, const QStringList& captions);

// The same for buttons that stand side by side: they all get one font, the largest in which
// every caption of each of them fits, so that no button looks smaller than its neighbours.
void FitButtonGroupCaptions(const QList<QPair<QPushButton*, QStringList>>& buttons);

class QWidget;

// FitButtonGroupCaptions when the window is first shown, before it is painted: each smaller
// font tried loads a font of its own, which a window built at start-up but opened much later,
// or never, need not pay for then.
void FitButtonGroupCaptionsWhenShown(QWidget* window,
                                     const QList<QPair<QPushButton*, QStringList>>& buttons);
