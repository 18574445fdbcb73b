#pragma once

#include "platform/Forms.h"

#include <string>
#include <vector>

// The password prompt: a masked entry, OK (default) and Cancel, sharing the name Command1.
FormLayout frmPasswordLayout();

// The administration dialog: the window of the day, the service buttons, the closed-port list and
// its buttons, the password button, Cancel (first in tab order) and OK (default).
FormLayout frmAdminLayout();

// One item of a menu: its name, and its caption ("-" for a separator).
struct MenuItem {
    std::string name;
    std::string caption;
};

// The items of the main window's menu mnuFile, which the tray pops up.
std::vector<MenuItem> mnuFile();
// The captions of a menu's items, as the pop-up menu shows them.
std::vector<std::string> Captions(const std::vector<MenuItem>& menu);
