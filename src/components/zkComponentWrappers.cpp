#include "zkComponentWrappers.h"

#include "platform/zkApplication.h"
#include "platform/zkErrors.h"

#include <QVBoxLayout>

namespace {

// Puts the component's face into the wrapper, filling it.
void Host(QWidget* wrapper, QWidget* face) {
    auto* layout = new QVBoxLayout(wrapper);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    if (face)
        layout->addWidget(face);
}

template <typename T> std::unique_ptr<T> Require(std::unique_ptr<T> component) {
    if (!component)
        throw EComponentError(QStringLiteral("Class not registered"));
    return component;
}

} // namespace

TZentrikWindowX::TZentrikWindowX(QWidget* parent)
    : QWidget(parent), Impl(Require(TComponentFactory::Current().CreateZentrikWindowX())) {
    setObjectName(QStringLiteral("ZentrikWindowX"));
    Host(this, Impl->Widget());
    IZentrikWindowX* c = Impl.get();
    connect(c, &IZentrikWindowX::OnNewAlert, this,
            [this](IAlertData* alert) { ReportErrors([&] { emit OnNewAlert(this, alert); }); });
    connect(c, &IZentrikWindowX::OnAlertSelected, this, [this](IAlertData* alert) {
        ReportErrors([&] { emit OnAlertSelected(this, alert); });
    });
    connect(c, &IZentrikWindowX::OnCustomMenuItem, this, [this](const QString& text, int32_t id) {
        ReportErrors([&] { emit OnCustomMenuItem(this, text, id); });
    });
    connect(c, &IZentrikWindowX::OnWindowNameChanged, this,
            [this] { ReportErrors([&] { emit OnWindowNameChanged(this); }); });
    connect(c, &IZentrikWindowX::OnAccountStatusChanged, this,
            [this] { ReportErrors([&] { emit OnAccountStatusChanged(this); }); });
}

// The component goes first, while its face is still our child.
TZentrikWindowX::~TZentrikWindowX() {
    Impl.reset();
}

TStatusBarX::TStatusBarX(QWidget* parent)
    : QWidget(parent), Impl(Require(TComponentFactory::Current().CreateStatusBarX())) {
    setObjectName(QStringLiteral("StatusBarX"));
    Host(this, Impl->Widget());
}

TStatusBarX::~TStatusBarX() {
    Impl.reset();
}

TGenericNetRequestX::TGenericNetRequestX(QWidget* parent)
    : QWidget(parent), Impl(Require(TComponentFactory::Current().CreateGenericNetRequestX())) {
    setObjectName(QStringLiteral("NetRequestX"));
    Host(this, Impl->Widget());
    connect(Impl.get(), &IGenericNetRequestX::OnResult, this,
            [this](const QString& result) { ReportErrors([&] { emit OnResult(this, result); }); });
}

TGenericNetRequestX::~TGenericNetRequestX() {
    Impl.reset();
}

TZentrikGenericConnector2X::TZentrikGenericConnector2X(QWidget* parent)
    : QWidget(parent),
      Impl(Require(TComponentFactory::Current().CreateZentrikGenericConnector2X())) {
    setObjectName(QStringLiteral("ZentrikGenericConnector2X"));
    Host(this, Impl->Widget());
}

TZentrikGenericConnector2X::~TZentrikGenericConnector2X() {
    Impl.reset();
}
