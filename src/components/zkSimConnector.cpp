#include "zkSimConnector.h"

#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>

namespace {
std::shared_ptr<ISimConnectorLink>& LinkSlot() {
    static std::shared_ptr<ISimConnectorLink> link;
    return link;
}
constexpr int RecentShown = 12;
// The record of sent symbols is for looking back, not an archive: a day of alerts stays small.
constexpr qsizetype SentKept = 1000;
} // namespace

void SetSimConnectorLink(std::shared_ptr<ISimConnectorLink> link) {
    LinkSlot() = std::move(link);
}
std::shared_ptr<ISimConnectorLink> SimConnectorLink() {
    return LinkSlot();
}

TSimConnectorFace::TSimConnectorFace(QWidget* parent)
    : QWidget(parent), Title(new QLabel(this)), Links(new QLabel(this)), Recent(new QLabel(this)) {
    setObjectName(QStringLiteral("ConnectorFace"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 8, 10, 8);
    layout->setSpacing(6);
    QFont bold = Title->font();
    bold.setBold(true);
    Title->setFont(bold);
    Links->setWordWrap(true);
    Recent->setWordWrap(true);
    // List names and the symbols sent are the user's and the senders' text, never markup.
    for (QLabel* label : {Title, Links, Recent})
        label->setTextFormat(Qt::PlainText);
    Links->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(Title);
    layout->addWidget(Links);
    layout->addWidget(Recent);
    layout->addStretch(1);
}

void TSimConnectorFace::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    emit VisibleChanged(true);
}

void TSimConnectorFace::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    emit VisibleChanged(false);
}

void TSimConnectorFace::Refresh(const QString& linkName, int32_t links, const QStringList& recent) {
    Title->setText(linkName.isEmpty() ? tr("Link list") : tr("Link list \"%1\"").arg(linkName));
    if (links > 0)
        Links->setText(links == 1 ? tr("1 program linked.") : tr("%1 programs linked.").arg(links));
    else
        Links->setText(
            linkName.isEmpty()
                ? tr("No program linked.")
                : tr("No program linked. To link one, run: velquist-link \"%1\"").arg(linkName));
    Recent->setText(recent.isEmpty() ? tr("Nothing sent yet.")
                                     : tr("Last sent: %1").arg(recent.join(QStringLiteral(", "))));
}

TSimGenericConnector2X::TSimGenericConnector2X() : Face(new TSimConnectorFace()) {
    // Programs link and unlink on their own; keep the face's count current while it is seen
    // (a hidden face has nothing to show and no reason to wake the program each second).
    connect(&FaceTimer, &QTimer::timeout, this, &TSimGenericConnector2X::RefreshFace);
    connect(Face, &TSimConnectorFace::VisibleChanged, this, [this](bool visible) {
        if (visible) {
            RefreshFace();
            FaceTimer.start(1000);
        } else {
            FaceTimer.stop();
        }
    });
    RefreshFace();
}

TSimGenericConnector2X::~TSimGenericConnector2X() {
    delete Face.data();
}

int32_t TSimGenericConnector2X::LinkCount() const {
    const std::shared_ptr<ISimConnectorLink> link = SimConnectorLink();
    return link ? link->LinkCount(Name) : 0;
}

void TSimGenericConnector2X::SendSymbol() {
    Sent.append(CurrentSymbol);
    if (Sent.size() > SentKept)
        Sent.remove(0, Sent.size() - SentKept);
    if (const std::shared_ptr<ISimConnectorLink> link = SimConnectorLink())
        link->Send(Name, CurrentSymbol);
    RefreshFace();
}

void TSimGenericConnector2X::InitializeConnector() {
    IsInitialized = true;
    RefreshFace();
}

void TSimGenericConnector2X::SetLinkName(const QString& name) {
    Name = name;
    RefreshFace();
}

void TSimGenericConnector2X::RefreshFace() {
    if (!Face)
        return;
    const qsizetype from = std::max<qsizetype>(0, Sent.size() - RecentShown);
    QStringList recent = Sent.mid(from);
    std::reverse(recent.begin(), recent.end());
    Face->Refresh(Name, LinkCount(), recent);
}
