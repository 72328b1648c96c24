#include "zkTrayIcon.h"

#include "desk/zkAlertHub.h"
#include "platform/zkApplication.h"
#include "platform/zkOutsideText.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>

TTrayIcon::TTrayIcon(IAlertHub* hub, QObject* parent) : QObject(parent), Hub(hub) {
    TrayMenu = new QMenu;
    TrayMenu->setObjectName(QStringLiteral("TrayMenu"));
    ShowAllWindowsMenuItem = TrayMenu->addAction(tr("Show All Windows"));
    ShowAllWindowsMenuItem->setObjectName(QStringLiteral("TrayShowAllWindowsMenuItem"));
    MuteSoundsMenuItem = TrayMenu->addAction(tr("Mute Sounds"));
    MuteSoundsMenuItem->setObjectName(QStringLiteral("TrayMuteSoundsMenuItem"));
    MuteSoundsMenuItem->setCheckable(true);
    TrayMenu->addSeparator();
    ExitMenuItem = TrayMenu->addAction(tr("Exit"));
    ExitMenuItem->setObjectName(QStringLiteral("TrayExitMenuItem"));
    connect(ShowAllWindowsMenuItem, &QAction::triggered, this, &TTrayIcon::ShowAllWindowsRequested);
    connect(MuteSoundsMenuItem, &QAction::triggered, this, [this](bool muted) {
        // The per-user store may refuse it: the user hears why.
        if (Hub)
            ReportErrors([this, muted] { Hub->SetSoundsMuted(muted); });
    });
    connect(ExitMenuItem, &QAction::triggered, this, &TTrayIcon::ExitRequested);

    Tray = new QSystemTrayIcon(this);
    Tray->setObjectName(QStringLiteral("TrayIcon"));
    Tray->setContextMenu(TrayMenu);
    connect(Tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r == QSystemTrayIcon::Trigger)
            emit MainWindowRequested();
    });
    Update(TState::NotConnected, QString());
    Tray->show();
}

TTrayIcon::~TTrayIcon() {
    delete Tray;
    delete TrayMenu;
}

QString TTrayIcon::TooltipText(const QString& title, const QString& account, int newAlerts) {
    QString text = title;
    if (!account.isEmpty())
        text += QStringLiteral(" \u2014 ") + account;
    if (newAlerts > 0)
        text += QStringLiteral(" \u2014 ") +
                (newAlerts == 1 ? tr("1 new alert") : tr("%1 new alerts").arg(newAlerts));
    return text;
}

QIcon TTrayIcon::StateIcon(const QIcon& base, TState state) {
    const QColor dot = state == TState::Connected    ? QColor(0, 160, 0)
                       : state == TState::Connecting ? QColor(230, 160, 0)
                                                     : QColor(200, 0, 0);
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        if (!base.isNull())
            base.paint(&painter, pixmap.rect());
        // The state dot, bottom right, ringed so it reads on light and dark panels alike.
        const qreal d = size * 0.42;
        const QRectF circle(size - d - 0.5, size - d - 0.5, d, d);
        painter.setPen(QPen(Qt::white, qMax(1.0, size / 16.0)));
        painter.setBrush(dot);
        painter.drawEllipse(circle);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

void TTrayIcon::Update(TState state, const QString& account) {
    const int newAlerts = Hub ? Hub->UnseenAlerts() : 0;
    if (!HaveState || state != State) {
        HaveState = true;
        State = state;
        // Without the icon file beside the program, the installed theme icon.
        QIcon base = QApplication::windowIcon();
        if (base.isNull())
            base = QIcon::fromTheme(QStringLiteral("velquist"));
        Tray->setIcon(StateIcon(base, state));
    }
    const QString tooltip = TooltipText(ApplicationTitle(), account, newAlerts);
    if (tooltip != Tooltip) {
        Tooltip = tooltip;
        Tray->setToolTip(zkOutsideText::ToolTip(tooltip));
    }
}

void TTrayIcon::SetMuted(bool muted) {
    MuteSoundsMenuItem->setChecked(muted);
}
