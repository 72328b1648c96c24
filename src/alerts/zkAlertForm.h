#pragma once

#include "alerts/zkActions.h"
#include "config/zkWindowRecord.h"

#include <QFont>
#include <QWidget>

#include <cstdint>

class IAlertData;
class IAlertDesk;
class TAlertAnnouncer;
class TZentrikWindowX;

// An alert window: a top-level window whose whole client area is one hosted alert component.
// The window adds the caption that follows the component's window name, six context-menu
// entries, its actions, writing itself to an alert-window file, and duplication. Closing it
// destroys it.
class TAlertForm : public QWidget {
    Q_OBJECT
public:
    // Identifiers the component hands back with OnCustomMenuItem.
    enum TMenuId : int32_t {
        SeparatorMenuId = 0,
        ActionsMenuId = 1000,
        DuplicateWindowMenuId = 1001,
        SaveWindowMenuId = 1002,
        SetAsDefaultMenuId = 1003,
        SetFontMenuId = 1004,
        RulesMenuId = 1010,
        QuietHoursMenuId = 1009,
    };

    // A window is created hidden; its creator configures it (record, actions) and shows it.
    // The owner (the main window, or nullptr without one) destroys it with itself. The desk
    // (nullptr without one) is where its actions reach the other windows.
    explicit TAlertForm(QWidget* owner = nullptr, IAlertDesk* desk = nullptr);
    ~TAlertForm() override;

    // --- state ---
    IAlertDesk* const Desk;
    QString WindowFileName;
    QStringList Actions;
    TActionTable ActionTable;
    TPendingActions PendingActions;
    bool HasPendingActions = false;
    // Closed: hidden, and deleted once the event loop runs; never to be brought forward again.
    bool Closing = false;
    // The font's Windows character set; Qt fonts have none, so it is kept beside the font.
    uint8_t FontCharset = 1;
    // Which alerts from outside the window keeps (the router asks them).
    TKeepRules KeepRules;
    // Quiet hours (no sounds, no desktop notifications) and how new alerts are announced.
    TQuietSettings Quiet;

    // --- controls ---
    TZentrikWindowX* ZentrikWindowX = nullptr;
    // Says the window's new alerts to screen readers.
    TAlertAnnouncer* Announcer = nullptr;

    // Replaces Actions and parses it again.
    void SetActions(const QStringList& actions);
    // Parses Actions into ActionTable (also after the selection trigger changed).
    void ParseActions();
    // Replaces Quiet and tells the announcer.
    void SetQuiet(const TQuietSettings& quiet);

    // Puts a window record onto this (freshly created) window; without place, the window keeps
    // the place the window system gives it (a new window), the record's Left and Top unused.
    void ApplyWindowRecord(const TLayoutInfo& record, bool place = true);
    // The window as a record: geometry, state, font, colour, configurations, WindowFileName.
    TLayoutInfo WindowRecord() const;
    // Writes the window's record and actions as an alert-window file, in one replacement of
    // the file. Unless keepFileName, WindowFileName becomes fileName afterwards. A failed write
    // raises EIniFileError and changes neither the file nor the window.
    void WriteAlertWindowFile(const QString& fileName, bool keepFileName);

    // Adds "Rules..." to the context menu once the window takes alerts from outside (its
    // DataConfig makes it an inbox window); the component has no way to take an entry out.
    void OfferRulesMenu();

    // The context-menu operations.
    TAlertForm* DuplicateWindow();
    void SaveWindow();
    void SetWindowAsDefault();
    void SetWindowFont();
    void EditQuietHours();

    // The caption rule: the component's window name, trimmed, else the application title;
    // "Inbox" for the inbox's catch-all window (an inbox window named "*").
    void UpdateCaption();

    // Event handlers, bound to the component's events.
    void ZentrikWindowXAlertSelected(QObject* Sender, IAlertData* Alert);
    void ZentrikWindowXNewAlert(QObject* Sender, IAlertData* Alert);
    void ZentrikWindowXCustomMenuItem(QObject* Sender, const QString& Display, int32_t ID);
    void ZentrikWindowXWindowNameChanged(QObject* Sender);
    void ZentrikWindowXAccountStatusChanged(QObject* Sender);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Every key release of the window, whichever control has the focus.
    virtual void FormKeyUp(int& key, Qt::KeyboardModifiers shift);
    // Every key press of the window: Enter on the list's selected alert runs the window's
    // selection action. True when the key was taken.
    bool FormKeyDown(int key, Qt::KeyboardModifiers shift, bool autoRepeat);

private:
    void FormCreate();
    void FormClose();
    void FormDestroy();
    // The font as applied from a record, with the record's own font fields, so an unchanged
    // font is written back exactly as it was read.
    void RememberAppliedFont(const TLayoutInfo& record);

    bool KeyPreview = false;
    QFont AppliedFont;
    TLayoutInfo AppliedFontRecord;
    bool HasAppliedFont = false;
    bool RulesMenuAdded = false;
};

// The "Copy of " naming of a duplicated window's file: the same folder, the name prefixed
// unless it already starts with "Copy of " in any letter case. Empty stays empty.
QString CopyWindowFileName(const QString& fileName);
// A window name made usable as a file name: each of " * / : < > ? \ | becomes "_".
QString SanitizeWindowFileName(const QString& name);
