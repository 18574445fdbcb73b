#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A form is a layout table (data, in the portable folder of its subsystem) and a set of handlers;
// the windowing backend builds the window from the table and routes the controls' events to the
// handlers. Positions and sizes are in twips (1/1440 inch; 15 per pixel at 96 dots per inch).

enum class ControlKind { Label, TextBox, CommandButton, ListBox, Frame, Line, PictureBox, Timer, CheckBox };

// Every field has a default, so that a table row names only what it sets, in the order the fields are
// declared here (designated initialisers).
struct ControlLayout {
    std::string name{};
    int index = -1; // its place in a control array that shares the name; -1 for a single control
    ControlKind kind = ControlKind::Label;
    std::string container{}; // a frame's name, or empty for the form itself
    std::string caption{};   // the caption or text
    int left = 0;            // a line: its start (left, top) and end (width, height) points
    int top = 0;
    int width = 0;
    int height = 0;
    int tabIndex = -1;
    bool isDefault = false;   // Enter anywhere on the form presses it
    char passwordChar = '\0'; // a text box shows this for every character
    bool bold = false;
    int interval = 0; // a timer's, in milliseconds; timers start disabled
};

struct FormLayout {
    std::string name{};
    std::string caption{};
    int clientWidth = 0;
    int clientHeight = 0;
    bool centred = false;
    std::string fontName = "Tahoma";
    double fontSize = 8.25;
    std::vector<ControlLayout> controls{};
};

// Why a form is asked to close.
enum class CloseReason { User, Code, SystemShutdown };

// A form's handlers. The backend calls them on the user-interface thread.
class FormHandlers {
public:
    virtual ~FormHandlers() = default;
    virtual void Click(const std::string& control, int index) { (void)control, (void)index; }
    virtual void TimerTick(const std::string& timer) { (void)timer; }
    // Returns true to cancel the close (the form may hide itself instead).
    virtual bool QueryUnload(CloseReason reason) { return (void)reason, false; }
    virtual void Unload() {}
};

// A form built from its layout, created hidden. Controls are named as in the layout; index picks an
// element of a control array.
class Form {
public:
    virtual ~Form() = default;

    // Modal: returns when the form has closed; timers and other windows keep running meanwhile.
    virtual void Show(bool modal) = 0;
    virtual void Hide() = 0;
    // Closes the form by code: its handlers hear QueryUnload(Code), and Unload unless it cancels.
    virtual void Close() = 0;
    virtual bool Visible() const = 0;
    virtual uintptr_t Handle() const = 0;
    virtual void SetCaption(const std::string& caption) = 0;
    // The window's icon, and the icon a picture box shows (handles as LoadProgramIcon gives them).
    virtual void SetWindowIcon(uintptr_t icon) = 0;
    virtual void SetPicture(const std::string& pictureBox, uintptr_t icon) = 0;

    virtual std::string Text(const std::string& control, int index = -1) const = 0;
    virtual void SetText(const std::string& control, int index, const std::string& text) = 0;
    virtual void SelectAll(const std::string& control, int index = -1) = 0;
    virtual void SetFocus(const std::string& control, int index = -1) = 0;
    virtual void SetEnabled(const std::string& control, int index, bool enabled) = 0;
    virtual bool Enabled(const std::string& control, int index = -1) const = 0;
    // Check boxes: ticked or not.
    virtual bool Value(const std::string& checkBox) const = 0;
    virtual void SetValue(const std::string& checkBox, bool ticked) = 0;

    // List boxes; entries counted from 0, -1 for no selection.
    virtual int ListCount(const std::string& list) const = 0;
    virtual std::string List(const std::string& list, int entry) const = 0;
    virtual void AddItem(const std::string& list, const std::string& text) = 0;
    virtual void RemoveItem(const std::string& list, int entry) = 0;
    virtual void SetList(const std::string& list, int entry, const std::string& text) = 0;
    virtual int ListIndex(const std::string& list) const = 0;
    virtual void SetListIndex(const std::string& list, int entry) = 0;

    virtual void SetTimer(const std::string& timer, bool enabled) = 0;
    virtual bool TimerEnabled(const std::string& timer) const = 0;
};
