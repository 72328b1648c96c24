#include "zkLayouts.h"

namespace zkLayoutStandIn {
int SaveCount = 0;
QString LastSaveName;
int StartupCount = 0;
} // namespace zkLayoutStandIn

void OpenStartupLayout() { ++zkLayoutStandIn::StartupCount; }

void SaveLayout(const QString& fileName) {
    ++zkLayoutStandIn::SaveCount;
    zkLayoutStandIn::LastSaveName = fileName;
}

void LoadAlertWindowDialog() {}
void SaveLayoutDialog() {}
void RestoreLayoutDialog() {}
