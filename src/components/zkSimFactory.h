#pragma once

#include "zkComponents.h"

// The embedded default factory: every component it creates is backed by the one simulated
// service of the process (TSimService::Instance()).
class TSimComponentFactory : public TComponentFactory {
public:
    std::unique_ptr<IConnectionControl> CreateConnectionControl() override;
    std::unique_ptr<IZentrikWindowX> CreateZentrikWindowX() override;
    std::unique_ptr<IStatusBarX> CreateStatusBarX() override;
    std::unique_ptr<IGenericNetRequestX> CreateGenericNetRequestX() override;
    std::unique_ptr<IZentrikGenericConnector2X> CreateZentrikGenericConnector2X() override;
};
