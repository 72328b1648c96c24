#pragma once

#include "config/zkWindowRecord.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

class TSettingsStore;
class TZentrikProMainForm;

// Layouts: the whole desk (main window position, every alert window with its actions, and the
// place and visibility of the symbol lists, connector and alert history windows), kept in the per-user store or
// in a layout file under the same group paths, so one routine writes either. Also the single
// alert-window files and the start-up decision of what to open.
//
// The operations work on the main window they are given, whose alert windows they are.

// The group paths below the settings key path. In a layout file they are the section names,
// backslashes and all ("\Software\Velquist Client\Settings\Layout\MainWindow").
QString LayoutKeyPath(); // P: settings key path + "\Settings\Layout"
QString LayoutMainWindowPath();
QString LayoutAlertWindowPath(int index); // P + "\AlertWindow<index>"
QString LayoutSymbolWindowPath();
QString LayoutConnectorWindowPath();
QString LayoutHistoryWindowPath();

// Up to this "AlertCount" every window number is read, a missing group reading as the default
// window. Past it only the groups that are there are opened, however many, so a damaged count
// of two billion costs no more than the windows it really holds.
constexpr int32_t MaxWalkedAlertCount = 1000;

// Place, size, state and visibility of a companion window (symbol lists, connector).
struct TCompanionPlacement {
    int32_t Top = 0;
    int32_t Left = 0;
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t WindowState = 0; // 0 normal, 1 minimised, 2 maximised
    bool Visible = false;

    bool operator==(const TCompanionPlacement&) const = default;
};

struct TLayoutWindow {
    TLayoutInfo Record;
    QStringList Actions;

    bool operator==(const TLayoutWindow&) const = default;
};

// A layout as values, apart from the windows it came from or goes to.
struct TLayout {
    int32_t MainTop = 20;
    int32_t MainLeft = 20;
    std::vector<TLayoutWindow> Windows;
    TCompanionPlacement SymbolWindow;
    TCompanionPlacement ConnectorWindow;
    // None while the alert history window has not been opened: nothing is written for it
    // (a file's old group is removed), and applying the layout hides the window.
    std::optional<TCompanionPlacement> HistoryWindow;

    bool operator==(const TLayout&) const = default;
};

// Writes the layout's groups in their stored order. In a file each group's section is erased
// first (the actions sections are not); in the per-user store nothing is erased, so keys of
// windows beyond "AlertCount" may remain and are ignored. All in one batch: one transaction,
// or one atomic replacement of the file; a failure raises and leaves the store as it was.
void WriteLayout(const TSettingsStore& store, const TLayout& layout);
// Reads a layout; what is missing reads as its default. An "AlertCount" above
// MaxWalkedAlertCount reads only the windows whose groups exist (stderr is told when some are
// missing).
TLayout ReadLayout(const TSettingsStore& store);

// The desk as it is now, and putting a layout onto it (closing the open alert windows first).
TLayout CollectLayout(const TZentrikProMainForm& form);
void ApplyLayout(TZentrikProMainForm& form, const TLayout& layout);

// Opens one alert window from an alert-window file. False, with nothing opened and nothing
// said, when the file has no section "AlertWindow". A window whose actions do not parse is
// still opened (with the actions parsed before the bad one); the error is raised afterwards.
bool LoadAlertWindowFile(TZentrikProMainForm& form, const QString& fileName);
// Opens every "*.zka" file of the saved-windows folder except DEFAULT_WINDOW.zka.
void LoadAllSavedWindows(TZentrikProMainForm& form);
// The layout to that file, or to the per-user store when the name is empty; then the default
// action lists.
void SaveLayout(TZentrikProMainForm& form, const QString& fileName);
// Replaces the open alert windows with those of that layout file (or the per-user store).
void LoadLayout(TZentrikProMainForm& form, const QString& fileName);

// File menu: "Load Alert Window...", "Save Layout...", "Restore Layout...".
void LoadAlertWindowDialog(TZentrikProMainForm& form);
void SaveLayoutDialog(TZentrikProMainForm& form);
void RestoreLayoutDialog(TZentrikProMainForm& form);

// The start-up decision, run once by the main window while it is created.
void OpenStartupLayout(TZentrikProMainForm& form);

// Whole-process tests only: with VELQUIST_TEST_SAVE_LOOP=<layout file> set, the client saves
// its layout to that file over and over from the event loop, each time with every alert
// window's WindowFileName set to "gen-<n>" for a growing n, so a test that kills the process
// can tell one complete save from another. Does nothing without the variable.
void StartLayoutSaveLoopFromEnvironment(TZentrikProMainForm* form);
