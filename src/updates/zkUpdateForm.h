#pragma once

#include <QWidget>

// The hidden update window. Stand-in until the update work lands: it counts the checks it
// is asked for and checks nothing.
class TUpdateForm : public QWidget {
    Q_OBJECT
public:
    explicit TUpdateForm(QWidget* owner);
    void CheckSchedule(bool startup);
    int StartupChecks = 0;
};
