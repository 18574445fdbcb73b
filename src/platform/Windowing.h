#pragma once

#include <string>

// The icon of a message box; every message box of the program has a single OK button.
enum class MsgBoxIcon { None, Information, Exclamation, Stop };

// What the program's forms and routines ask of the windowing system.
class Windowing {
public:
    virtual ~Windowing() = default;

    // Shows a modal message box and returns when the user has closed it. Timers keep firing meanwhile.
    virtual void MsgBox(const std::string& prompt, MsgBoxIcon icon, const std::string& title) = 0;
    // Lets the event loop handle what is pending, once, then returns.
    virtual void DoEvents() = 0;
};
