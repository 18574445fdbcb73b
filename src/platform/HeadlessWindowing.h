#pragma once

#include "platform/Windowing.h"

#include <memory>

// The windowing of a program that runs without a display (a server, a service): it enforces all the
// same, with nothing shown. Forms are the display windowing's, built and running (their timers drive
// enforcement) but never shown; message boxes count as answered with OK, input prompts as cancelled,
// pop-up menus as dismissed. The event loop, the instance lock and the shell are the display windowing's.
class HeadlessWindowing final : public Windowing {
public:
    explicit HeadlessWindowing(std::unique_ptr<Windowing> system);

    std::unique_ptr<Form> CreateForm(const FormLayout& layout, FormHandlers& handlers) override;
    void MsgBox(const std::string& prompt, MsgBoxIcon icon, const std::string& title) override;
    std::optional<std::string> InputBox(const std::string& prompt, const std::string& title,
                                        const std::string& fallback) override;
    int PopupMenu(const std::vector<std::string>& items) override;
    void DoEvents() override;
    void Pause(int milliseconds) override;
    void Post(std::function<void()> task) override;
    void Run() override;
    void Quit() override;
    bool PrevInstance() override;
    uint32_t PrevInstanceId() override;
    void HideFromTaskList() override;
    int32_t BringToFront(uintptr_t window) override;
    int32_t ShellOpen(const std::string& file, const std::string& directory, uintptr_t window,
                      const std::string& parameters, const std::string& operation) override;

private:
    std::unique_ptr<Windowing> system_;
};
