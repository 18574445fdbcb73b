#pragma once

#include "platform/Forms.h"

#include <string>
#include <vector>

// The password prompt: a masked entry, OK (default) and Cancel, sharing the name Command1.
FormLayout frmPasswordLayout();

// The administration dialog: the window of the day, the service buttons, the closed-port list and
// its buttons, the password button, Cancel (first in tab order) and OK (default).
FormLayout frmAdminLayout();

// The main window's menu mnuFile as the tray pops it up; "-" items are separators.
std::vector<std::string> mnuFileItems();
