#pragma once

#include "platform/Forms.h"
#include "settings/WeekSchedule.h"

#include <array>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The administrator's window: the closed-port list, the daily window, the week, the password and the
// service registration. It works on the live settings; OK writes them to settings.ini.
class frmAdmin final : public FormHandlers {
public:
    explicit frmAdmin(uintptr_t mainWindowIcon);
    ~frmAdmin() override;

    void Show(); // modal
    uintptr_t Handle() const { return form_->Handle(); }
    void Form_Load();
    void Command1_Click(); // Remove
    void Command2_Click(); // Add
    void Command3_Click(); // Cancel
    void Command4_Click(); // OK
    void Command5_Click(); // Change password
    void Command6_Click(); // Edit
    void Command7_Click(); // Register service
    void Command8_Click(); // Unregister service
    void Command9_Click(); // Schedule...
    void UpdateRegisterButtons();

    // A click (or Enter) handled inside the scan's event processing waits until the scan is over: its
    // handler may open a prompt or a box, which must not hold the scan off.
    void Click(const std::string& control, int index) override;

private:
    void dispatch(const std::string& control, int index);
    // Saves, and where the settings did not reach the disk says so and why; true when saved.
    bool Save();
    std::vector<std::string> listed() const; // the list's entries, in order

    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true); // outlived by clicks waiting to be handled
    std::unique_ptr<Form> form_;
    uintptr_t icon_;
    std::array<std::string, DaysInWeek> week_; // the week as the week dialog left it; OK saves it
};
