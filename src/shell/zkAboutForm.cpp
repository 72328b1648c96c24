#include "zkAboutForm.h"

#include "config/zkConfig.h"
#include "desktop/zkTheme.h"
#include "desktop/zkWindowPlace.h"
#include "platform/zkLinkLabel.h"
#include "platform/zkOutsideText.h"
#include "platform/zkShell.h"

#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>
#include <QWindow>

namespace {
constexpr int ClientWidth = 298;
constexpr int ClientHeight = 213;
constexpr int IconSize = 32;

QLabel* newLabel(const QString& name, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    // Texts come from a settings file: show them as written, never as markup.
    label->setTextFormat(Qt::PlainText);
    return label;
}
} // namespace

TAboutForm::TAboutForm(QWidget* parent) : QDialog(parent) {
    CreateControls();
    FormCreate(ConfigInfo());
}

TAboutForm::TAboutForm(const TConfigInfo& config, QWidget* parent) : QDialog(parent) {
    CreateControls();
    FormCreate(config);
}

void TAboutForm::CreateControls() {
    setObjectName(QStringLiteral("AboutForm"));

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
    // The content sits on the base colour, set off from the button row.
    Panel1->setAutoFillBackground(true);
    zkTheme::FollowPalette(Panel1, [](QPalette& palette) {
        palette.setColor(QPalette::Window, palette.color(QPalette::Base));
    });

    ProgramIcon = newLabel(QStringLiteral("ProgramIcon"), Panel1);
    ProgramIcon->setFixedSize(IconSize, IconSize);
    ProgramIcon->setScaledContents(true);

    ApplicationTitleLabel = newLabel(QStringLiteral("ApplicationTitleLabel"), Panel1);
    QFont titleFont = ApplicationTitleLabel->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.35);
    ApplicationTitleLabel->setFont(titleFont);

    ApplicationVersionLabel = newLabel(QStringLiteral("ApplicationVersionLabel"), Panel1);
    ApplicationVersionLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    zkTheme::FollowPalette(ApplicationVersionLabel, [](QPalette& palette) {
        palette.setColor(QPalette::Window, palette.color(QPalette::Base));
        palette.setColor(QPalette::WindowText, palette.color(QPalette::PlaceholderText));
    });

    CopyrightStringLabel = newLabel(QStringLiteral("CopyrightStringLabel"), Panel1);
    CopyrightStringLabel->setWordWrap(true);
    CopyrightStringLabel->setMinimumSize(217, 31);
    CopyrightStringLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    auto* link = new TLinkLabel(Panel1);
    link->setObjectName(QStringLiteral("AboutURLLabel"));
    connect(link, &TLinkLabel::Activated, this, &TAboutForm::AboutURLLabelClick);
    AboutURLLabel = link;
    QFont linkFont = AboutURLLabel->font();
    linkFont.setUnderline(true);
    AboutURLLabel->setFont(linkFont);
    // Blue as links are, in a shade that reads on the panel in either theme.
    zkTheme::KeepReadable(AboutURLLabel, QPalette::WindowText, QColor(0, 0, 255), QPalette::Base);

    auto* panelLayout = new QGridLayout(Panel1);
    panelLayout->setContentsMargins(8, 10, 8, 8);
    panelLayout->setHorizontalSpacing(10);
    panelLayout->setVerticalSpacing(2);
    panelLayout->addWidget(ProgramIcon, 0, 0, 6, 1, Qt::AlignTop);
    panelLayout->addWidget(ApplicationTitleLabel, 0, 1);
    panelLayout->addWidget(ApplicationVersionLabel, 1, 1);
    panelLayout->setRowMinimumHeight(2, 8);
    panelLayout->addWidget(CopyrightStringLabel, 3, 1);
    panelLayout->setRowStretch(4, 1);
    panelLayout->addWidget(AboutURLLabel, 5, 1, Qt::AlignLeft);
    panelLayout->setColumnStretch(1, 1);

    OKButton = new QPushButton(tr("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &TAboutForm::OKButtonClick);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(OKButton);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(9, 9, 9, 9);
    layout->setSpacing(9);
    layout->addWidget(Panel1, 1);
    layout->addLayout(buttons);
}

void TAboutForm::FormCreate(const TConfigInfo& config) {
    setWindowTitle(tr("About %1").arg(config.ApplicationTitle));
    ApplicationTitleLabel->setText(config.ApplicationTitle);
    // A picture alone says nothing to a screen reader.
    ProgramIcon->setAccessibleName(tr("%1 icon").arg(config.ApplicationTitle));
    ApplicationVersionLabel->setText(config.ApplicationVersion);
    CopyrightStringLabel->setText(config.CopyrightString);

    const qsizetype bar = config.AboutURL.indexOf(QLatin1Char('|'));
    LinkCaption = bar < 0 ? config.AboutURL : config.AboutURL.left(bar);
    LinkTarget = bar < 0 ? QString() : config.AboutURL.mid(bar + 1);
    AboutURLLabel->setText(LinkCaption);
    // A caption without an address leads nowhere, so it should not look clickable.
    AboutURLLabel->setCursor(LinkTarget.isEmpty() ? Qt::ArrowCursor : Qt::PointingHandCursor);
    AboutURLLabel->setFocusPolicy(LinkTarget.isEmpty() ? Qt::NoFocus : Qt::StrongFocus);
    AboutURLLabel->setToolTip(zkOutsideText::ToolTip(LinkTarget));

    QIcon icon = QGuiApplication::windowIcon();
    if (icon.isNull())
        icon = style()->standardIcon(QStyle::SP_MessageBoxInformation);
    ProgramIcon->setPixmap(icon.pixmap(QSize(IconSize, IconSize), devicePixelRatioF()));

    setFixedSize(ClientWidth, ClientHeight);
}

void TAboutForm::AboutURLLabelClick() {
    // Without an address the link would open the installation folder itself.
    if (!LinkTarget.isEmpty())
        OpenLink(LinkTarget);
}

void TAboutForm::OKButtonClick() {
    accept();
}

void TAboutForm::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        const QWidget* owner = parentWidget();
        const QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
        if (screen) {
            const QRect area = screen->availableGeometry();
            // Shown the first time, its own frame is not known yet: take the owner's, which the
            // window manager draws alike; the placer then puts the real frame there.
            QMargins margins = windowHandle() ? windowHandle()->frameMargins() : QMargins();
            if (margins.isNull() && owner && owner->windowHandle())
                margins = owner->windowHandle()->frameMargins();
            const QSize frame = size().grownBy(margins);
            MoveWindowFrame(this, QPoint(area.x() + (area.width() - frame.width()) / 2,
                                         area.y() + (area.height() - frame.height()) / 2));
        }
        OKButton->setFocus();
    }
    QDialog::showEvent(event);
}
