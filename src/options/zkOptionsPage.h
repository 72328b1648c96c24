#pragma once

// What the options dialog asks of each of its pages, and the few helpers the pages share.

#include <QString>

class IConnectionControl;
class IOptionsHost;
class QLabel;
class QWidget;

// Why a page's choices cannot be saved: told to the user, with the control to correct.
struct TOptionsProblem {
    QString Text; // empty: nothing stands in the way
    QWidget* Focus = nullptr;
};

// One page of the options dialog. The dialog loads every page each time it is shown, asks each
// in turn whether its choices can be saved before it saves any, then saves them in order.
class IOptionsPage {
public:
    virtual ~IOptionsPage() = default;
    // Shows the settings of the live objects and stores.
    virtual void Load() = 0;
    // Before anything is saved. A page may try its choice on a live object here (the inbox
    // its port), but puts the object back as it was when it refuses.
    virtual TOptionsProblem Validate() { return {}; }
    // Writes the page's choices to the stores and applies them to the live objects.
    virtual void Save() = 0;
    // Brings a status line up to date with its live object (a refused Save may have moved it).
    virtual void RefreshStatus() {}
};

namespace zkOptionsPage {

template <typename T> T* Named(T* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QLabel* Label(const QString& text, QWidget* parent, const char* name = nullptr);
// A section's heading: bold.
QLabel* Heading(const QString& text, QWidget* parent, const char* name);
// The host's connection component; throws when there is none.
IConnectionControl& Connection(IOptionsHost* host);

} // namespace zkOptionsPage
