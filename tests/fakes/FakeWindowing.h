#pragma once

#include "fakes/FakeForm.h"
#include "platform/Windowing.h"

#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

// Records what the program shows; message boxes are closed at once with OK, input prompts and pop-up
// menus answered from a script.
class FakeWindowing : public Windowing {
public:
    struct Prompt {
        std::string prompt;
        std::string title;
        std::string fallback;
    };
    struct Box {
        std::string prompt;
        MsgBoxIcon icon;
        std::string title;
    };

    std::vector<Box> boxes;
    std::vector<Prompt> prompts;
    std::deque<std::optional<std::string>> answers; // one per input prompt; nothing is Cancel
    std::vector<std::vector<std::string>> menus;
    std::deque<int> choices;           // one per pop-up menu; -1 dismisses it
    std::function<void()> onPopupMenu; // what happens while the menu is open (its loop's events)
    int doEventsCalls = 0;
    std::function<void()> onDoEvents; // an event handled while the program lets events run
    std::deque<std::function<void()>> posted;
    bool otherInstance = false;
    int hiddenFromTaskList = 0;
    std::vector<uintptr_t> broughtToFront;
    std::vector<std::string> opened;
    int32_t shellOpenResult = 42;

    std::vector<FakeForm*> forms;              // every form made, in order; owned by the program
    std::function<void(FakeForm&)> whileModal; // the user, at any form shown modally

    std::unique_ptr<Form> CreateForm(const FormLayout& layout, FormHandlers& handlers) override {
        auto form = std::make_unique<FakeForm>(layout, handlers, 0x1000 + forms.size());
        form->whileModal = &whileModal;
        forms.push_back(form.get());
        return form;
    }
    // The newest form of that name (older ones may be gone).
    FakeForm& form(const std::string& name) {
        for (auto it = forms.rbegin(); it != forms.rend(); ++it) {
            if ((*it)->layout.name == name) {
                return **it;
            }
        }
        throw std::logic_error("no form " + name);
    }
    std::optional<std::string> InputBox(const std::string& prompt, const std::string& title,
                                        const std::string& fallback) override {
        prompts.push_back({prompt, title, fallback});
        if (answers.empty()) {
            throw std::logic_error("no scripted answer for the input prompt " + prompt);
        }
        std::optional<std::string> answer = answers.front();
        answers.pop_front();
        return answer;
    }
    int PopupMenu(const std::vector<std::string>& items) override {
        menus.push_back(items);
        if (onPopupMenu) {
            onPopupMenu();
        }
        if (choices.empty()) {
            return -1;
        }
        const int choice = choices.front();
        choices.pop_front();
        return choice;
    }
    bool PrevInstance() override { return otherInstance; }
    uint32_t otherInstanceId = 0;
    uint32_t PrevInstanceId() override { return otherInstance ? otherInstanceId : 0; }
    void HideFromTaskList() override { ++hiddenFromTaskList; }
    int32_t BringToFront(uintptr_t window) override {
        broughtToFront.push_back(window);
        return 1;
    }
    int32_t ShellOpen(const std::string& file, const std::string&, uintptr_t, const std::string&,
                      const std::string&) override {
        opened.push_back(file);
        return shellOpenResult;
    }

    std::function<void()> onMsgBox; // what happens while a box is open
    void MsgBox(const std::string& prompt, MsgBoxIcon icon, const std::string& title) override {
        boxes.push_back({prompt, icon, title});
        if (onMsgBox) {
            onMsgBox();
        }
    }
    void Post(std::function<void()> task) override { posted.push_back(std::move(task)); }
    // The event loop running what was posted, including what the posted tasks post.
    void runPosted() {
        while (!posted.empty()) {
            std::function<void()> task = std::move(posted.front());
            posted.pop_front();
            task();
        }
    }
    bool quit = false;
    // The loop runs what was posted; the program's timers are the test's to fire.
    void Run() override { runPosted(); }
    void Quit() override { quit = true; }
    void DoEvents() override {
        ++doEventsCalls;
        if (onDoEvents) {
            onDoEvents();
        }
    }
    std::vector<int> pauses;
    std::function<void()> onPause; // what the user does while the program lets time pass
    void Pause(int milliseconds) override {
        pauses.push_back(milliseconds);
        if (onPause) {
            onPause();
        }
    }
};
