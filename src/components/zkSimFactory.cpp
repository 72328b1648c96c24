#include "zkSimFactory.h"

#include "zkSimAlertWindow.h"
#include "zkSimConnection.h"
#include "zkSimConnector.h"
#include "zkSimNetRequest.h"
#include "zkSimService.h"
#include "zkSimStatusBar.h"

std::unique_ptr<IConnectionControl> TSimComponentFactory::CreateConnectionControl() {
    return std::make_unique<TSimConnectionControl>(TSimService::Instance());
}

std::unique_ptr<IZentrikWindowX> TSimComponentFactory::CreateZentrikWindowX() {
    return std::make_unique<TSimZentrikWindowX>(TSimService::Instance());
}

std::unique_ptr<IStatusBarX> TSimComponentFactory::CreateStatusBarX() {
    return std::make_unique<TSimStatusBarX>(TSimService::Instance());
}

std::unique_ptr<IGenericNetRequestX> TSimComponentFactory::CreateGenericNetRequestX() {
    return std::make_unique<TSimNetRequestX>();
}

std::unique_ptr<IZentrikGenericConnector2X>
TSimComponentFactory::CreateZentrikGenericConnector2X() {
    return std::make_unique<TSimGenericConnector2X>();
}
