#pragma once

#include "platform/Forms.h"
#include "settings/WeekSchedule.h"

#include <array>

#include <string>
#include <vector>

// The password prompt: a masked entry, OK (default) and Cancel, sharing the name Command1.
FormLayout frmPasswordLayout();

// The administration dialog: the window of the day, the service buttons, the closed-port list and
// its buttons, the password button, Cancel (first in tab order) and OK (default).
FormLayout frmAdminLayout();

// The week dialog: a row a day (Monday first) with the day's name Label1(day), its windows Text1(day) and
// its check box for closed all day, then Cancel and OK (default).
inline constexpr std::array<const char*, DaysInWeek> DayCaptions = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                                                    "Friday", "Saturday", "Sunday"};
FormLayout frmWeekLayout();
// A day's check box: Check1 (Monday) … Check7, each a control of its own, as check boxes have no arrays.
std::string WeekCheckBox(int day);

// One item of a menu: its name, and its caption ("-" for a separator).
struct MenuItem {
    std::string name;
    std::string caption;
};

// The items of the main window's menu mnuFile, which the tray pops up.
std::vector<MenuItem> mnuFile();
// The captions of a menu's items, as the pop-up menu shows them.
std::vector<std::string> Captions(const std::vector<MenuItem>& menu);
