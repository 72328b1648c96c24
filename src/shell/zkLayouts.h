#pragma once

#include <QString>

// Layouts: the whole desk saved to and restored from a layout file or the per-user store.
// Stand-ins until the layout work lands: they record that they were asked and do nothing
// else, at the call points the main window needs.
namespace zkLayoutStandIn {
extern int SaveCount;
extern QString LastSaveName;
extern int StartupCount;
} // namespace zkLayoutStandIn

void OpenStartupLayout();
void SaveLayout(const QString& fileName);
void LoadAlertWindowDialog();
void SaveLayoutDialog();
void RestoreLayoutDialog();
