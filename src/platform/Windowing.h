#pragma once

#include "platform/Forms.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The icon of a message box; every message box of the program has a single OK button.
enum class MsgBoxIcon { None, Information, Exclamation, Stop };

// What the program's forms and routines ask of the windowing system.
class Windowing {
public:
    virtual ~Windowing() = default;

    // A form built from its layout table, hidden until shown.
    virtual std::unique_ptr<Form> CreateForm(const FormLayout& layout, FormHandlers& handlers) = 0;

    // Shows a modal message box and returns when the user has closed it. Timers keep firing meanwhile.
    virtual void MsgBox(const std::string& prompt, MsgBoxIcon icon, const std::string& title) = 0;
    // A modal input prompt: the text the user gave with OK (possibly empty), or nothing for Cancel.
    virtual std::optional<std::string> InputBox(const std::string& prompt, const std::string& title,
                                                const std::string& fallback) = 0;
    // A pop-up menu at the mouse pointer; "-" items are separators. Returns the chosen item's index in
    // items, or -1 when the menu was dismissed.
    virtual int PopupMenu(const std::vector<std::string>& items) = 0;
    // Lets the event loop handle what is pending, once, then returns.
    virtual void DoEvents() = 0;
    // Returns after the time has passed, the event loop running meanwhile: windows repaint, timers fire,
    // clicks are handled.
    virtual void Pause(int milliseconds) = 0;
    // Runs task later from the event loop, as an event of its own (after the current handler returns).
    virtual void Post(std::function<void()> task) = 0;
    // The program's event loop: returns once Quit has been called (at once if it already was).
    virtual void Run() = 0;
    virtual void Quit() = 0;

    // True when another instance of the program runs for the same user on this machine. The first
    // answer holds for the process's life.
    virtual bool PrevInstance() = 0;
    // The process id of the instance PrevInstance found; 0 when there is none or it cannot be told.
    virtual uint32_t PrevInstanceId() = 0;
    // Takes the program out of the system's list of running applications.
    virtual void HideFromTaskList() = 0;
    // SetForegroundWindow: non-zero when the window was brought to the front.
    virtual int32_t BringToFront(uintptr_t window) = 0;
    // ShellExecuteA's result rules: above 32 is success, 0 for a file that does not exist, other values
    // up to 32 are the platform's failure codes. Empty texts are passed as unset.
    virtual int32_t ShellOpen(const std::string& file, const std::string& directory, uintptr_t window,
                              const std::string& parameters, const std::string& operation) = 0;
};

// The build's windowing (Win32, or Qt on Linux); headless, it is wrapped in a HeadlessWindowing.
std::unique_ptr<Windowing> makeSystemWindowing(bool headless);
