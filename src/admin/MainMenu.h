#pragma once

#include "platform/Forms.h"

#include <cstdint>

// The commands of the main window's menu, which the tray icon pops up. Administration and Exit ask
// for the administrator password first, every time; while either's prompt or the dialog is open, a
// new request for them brings that window to the front and opens nothing.
namespace MainMenu {

void Administration(uintptr_t mainWindowIcon);
void Readme(uintptr_t mainWindow);
void About();
// Closes the main window by code, which ends the program, once the password was given.
void Exit(Form& mainWindow, uintptr_t mainWindowIcon);

// "Quietwire V1.0.54", two line breaks, and the three credit lines.
std::string AboutText();

} // namespace MainMenu
