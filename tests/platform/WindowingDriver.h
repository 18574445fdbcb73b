#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

// The conformance suites (FormConformance, WindowingConformance, AdminFormsConformance) hold what every
// windowing backend does, the same on each. Each backend's test programs instantiate them with a driver
// of the backend's own that reads the screen and acts as a user would. A Driver gives, for a window or
// control of the backend's own kind (Driver::Window, null for none):
//   windowing(), windowing(const TempDir& locks)  the display windowing; its instance lock in locks where
//                                                the backend takes a place for it
//   processId()
//   window(const Form&); control(const Form& or Window form, name, index)
//   dotsPerInch(); title(form); clientArea(form)  its inside, at 0, 0; onForm(form, control)  where the
//                                                control shows in the form's inside
//   text, focused, enabled, checked, bold, fontSize (in the backend's unit), passwordChar, selection (its start and
//   end), listItems (of a control); showsWholeCaption(control, its layout row)  a label's or a frame's
//   everyTick(std::function<void()>)             runs it from the event loop while what it gives lives
//   shownForm(caption)  up, and ready for keys; messageBox(); messageText(box);
//   inputPrompt(title)  the text box of an input prompt that is up; inFront(form)  once the system made it so
//   activate(Form&)  shown and made the active window; focus, setText, selectItem (of a list)  at once
//   type, press (a UserKey), click, closeBox (of a form), answerOk (of a message box): posted, so that what
//                                                they start runs in the program's own loops, as a user's
//                                                input does; pump() lets the program handle them
//   For the next dialog to come up, each giving what answers it while it lives: answerMessageBox(title,
//   text)  read, then OK; answerInputBox(title, typed, shown)  the text shown at first, then typed with
//   OK, or Cancel for none; choose(items, item)  the item, or -1: dismissed. visibleLineBreak()  how a
//   message box shows "\r\n".
enum class UserKey { Tab, Enter, Escape };

// The user at the keyboard while the program sits in a modal loop: each step runs from the event loop
// and is tried again at the next tick until it could act (its window was up). A step that opened a
// modal loop is not run again from inside it.
template <class Driver> class User {
public:
    using Step = std::function<bool()>;

    explicit User(std::vector<Step> steps) : steps_(std::move(steps)), ticks_(Driver::everyTick([this] { tick(); })) {}
    size_t stepsDone() const { return next_; }

private:
    void tick() {
        if (busy_ || next_ >= steps_.size()) {
            return;
        }
        busy_ = true;
        if (steps_[next_]()) {
            ++next_;
        }
        busy_ = false;
    }

    std::vector<Step> steps_;
    size_t next_ = 0;
    bool busy_ = false;
    decltype(Driver::everyTick(std::function<void()>())) ticks_;
};
