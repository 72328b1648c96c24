#pragma once

#include <QIcon>

// The Options pages' icons, drawn as shapes at whatever size and pixel ratio they are shown
// (so they stay sharp at 200 % and on large icon sizes, where a bitmap would be blown up).
enum class TOptionsIcon { General, Connection, Updates, Layouts, Inbox, Broker };

QIcon OptionsIcon(TOptionsIcon which);
