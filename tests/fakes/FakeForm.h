#pragma once

#include "platform/Forms.h"

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

// A form that keeps what the program sets on it and hands its events to the handlers when the test
// fires them, as the windowing backends do.
class FakeForm : public Form {
public:
    FakeForm(const FormLayout& layout, FormHandlers& handlers, uintptr_t handle)
        : layout(layout), handlers(handlers), handle(handle) {
        for (const ControlLayout& c : layout.controls) {
            texts[{c.name, c.index}] = c.caption;
            if (c.kind == ControlKind::Timer) {
                timers[c.name] = false;
            }
        }
    }

    FormLayout layout;
    FormHandlers& handlers;
    uintptr_t handle;
    // What the user does while the form is shown modally; a form still open afterwards is closed with
    // its close box, as a modal showing ends only when the form has closed.
    std::function<void(FakeForm&)>* whileModal = nullptr;
    bool visible = false;
    bool closed = false;
    int shownModal = 0;
    std::string caption;
    uintptr_t windowIcon = 0;
    std::map<std::string, uintptr_t> pictures;
    std::map<std::pair<std::string, int>, std::string> texts;
    std::map<std::pair<std::string, int>, bool> disabled;
    std::map<std::string, bool> ticked; // check boxes
    std::map<std::string, std::vector<std::string>> lists;
    std::map<std::string, int> listIndex;
    std::map<std::string, bool> timers;
    std::pair<std::string, int> focus;

    // A timer's tick, delivered only while the timer is on.
    bool tick(const std::string& timer) {
        if (!timers.at(timer)) {
            return false;
        }
        handlers.TimerTick(timer);
        return true;
    }
    // The user's close box, or the system ending the session.
    void closeBy(CloseReason reason) {
        if (!handlers.QueryUnload(reason)) {
            closed = true;
            visible = false;
            handlers.Unload();
        }
    }

    void click(const std::string& control, int index = -1) { handlers.Click(control, index); }

    void Show(bool modal) override {
        visible = true;
        if (!modal) {
            return;
        }
        ++shownModal;
        if (whileModal != nullptr && *whileModal) {
            (*whileModal)(*this);
        }
        if (!closed) {
            closeBy(CloseReason::User);
        }
    }
    void Hide() override { visible = false; }
    void Close() override { closeBy(CloseReason::Code); }
    bool Visible() const override { return visible; }
    uintptr_t Handle() const override { return handle; }
    void SetCaption(const std::string& text) override { caption = text; }
    void SetWindowIcon(uintptr_t icon) override { windowIcon = icon; }
    void SetPicture(const std::string& pictureBox, uintptr_t icon) override { pictures[pictureBox] = icon; }
    std::string Text(const std::string& control, int index) const override { return texts.at({control, index}); }
    void SetText(const std::string& control, int index, const std::string& text) override {
        texts[{control, index}] = text;
    }
    void SelectAll(const std::string&, int) override {}
    void SetFocus(const std::string& control, int index) override { focus = {control, index}; }
    void SetEnabled(const std::string& control, int index, bool enabled) override {
        disabled[{control, index}] = !enabled;
    }
    bool Enabled(const std::string& control, int index) const override {
        const auto it = disabled.find({control, index});
        return it == disabled.end() || !it->second;
    }
    bool Value(const std::string& checkBox) const override {
        return ticked.count(checkBox) != 0 && ticked.at(checkBox);
    }
    void SetValue(const std::string& checkBox, bool value) override { ticked[checkBox] = value; }
    int ListCount(const std::string& list) const override {
        const auto it = lists.find(list);
        return it == lists.end() ? 0 : static_cast<int>(it->second.size());
    }
    std::string List(const std::string& list, int entry) const override {
        return lists.at(list).at(static_cast<size_t>(entry));
    }
    void AddItem(const std::string& list, const std::string& text) override { lists[list].push_back(text); }
    void RemoveItem(const std::string& list, int entry) override {
        auto& items = lists.at(list);
        items.erase(items.begin() + entry);
    }
    void SetList(const std::string& list, int entry, const std::string& text) override {
        lists.at(list).at(static_cast<size_t>(entry)) = text;
    }
    int ListIndex(const std::string& list) const override {
        const auto it = listIndex.find(list);
        return it == listIndex.end() ? -1 : it->second;
    }
    void SetListIndex(const std::string& list, int entry) override { listIndex[list] = entry; }
    void SetTimer(const std::string& timer, bool enabled) override { timers.at(timer) = enabled; }
    bool TimerEnabled(const std::string& timer) const override { return timers.at(timer); }
};
