#include "zkComponents.h"

#include "platform/zkErrors.h"
#include "zkSimAlertModel.h"
#include "zkSimFactory.h"

namespace {
std::shared_ptr<TComponentFactory>& CurrentFactory() {
    static std::shared_ptr<TComponentFactory> factory;
    return factory;
}
} // namespace

TComponentFactory& TComponentFactory::Current() {
    std::shared_ptr<TComponentFactory>& factory = CurrentFactory();
    if (!factory)
        factory = std::make_shared<TSimComponentFactory>();
    return *factory;
}

std::shared_ptr<TComponentFactory>
TComponentFactory::SetCurrent(std::shared_ptr<TComponentFactory> f) {
    std::shared_ptr<TComponentFactory> previous = std::move(CurrentFactory());
    CurrentFactory() = std::move(f);
    return previous;
}

std::unique_ptr<IConnectionControl> CoConnectionControl::Create() {
    std::unique_ptr<IConnectionControl> connection =
        TComponentFactory::Current().CreateConnectionControl();
    if (!connection)
        throw EComponentError(QStringLiteral("Class not registered"));
    return connection;
}

bool IsInboxDataConfig(const QString& dataConfig) {
    // Read as the window reads its other keys, so the router and the window never disagree.
    return SimQueryValue(dataConfig, QStringLiteral("Src")) == QLatin1String("inbox");
}
