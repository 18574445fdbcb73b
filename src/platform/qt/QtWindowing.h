#pragma once

#include "platform/Windowing.h"

#include <QString>
#include <memory>
#include <string>

class InstanceLock;

// The windowing of the Linux build, with Qt Widgets. Without an X11 or Wayland display it runs on Qt's
// offscreen platform, inside a HeadlessWindowing.
class QtWindowing final : public Windowing {
public:
    // instanceLock: the file whose lock tells a running instance; by default one in the user's own
    // folder (platform/linux/OwnFolder.h).
    // instanceLock: the lock file's path (tests); else lockName in the user's own folder.
    explicit QtWindowing(QString instanceLock = QString(), std::string lockName = "quietwire.lock");
    ~QtWindowing() override;

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

    // Whether the X display named in the environment answers; without one the program runs headless
    // (on Qt's offscreen platform).
    static bool DisplayReachable();

private:
    QString instanceLock_;
    std::string lockName_;
    std::unique_ptr<InstanceLock> lock_;
    bool quit_ = false;
};
