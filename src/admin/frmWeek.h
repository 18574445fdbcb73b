#pragma once

#include "platform/Forms.h"
#include "settings/WeekSchedule.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

// The week dialog: each day's windows as text (blank for as every day) and whether it is closed all day.
// It edits the administration dialog's pending week, which that dialog's OK saves with the rest; its own OK
// takes the rows only when every one reads, its Cancel leaves the pending week as it was.
class frmWeek final : public FormHandlers {
public:
    using Week = std::array<std::string, DaysInWeek>;
    frmWeek(uintptr_t windowIcon, Week& pending);
    ~frmWeek() override;

    void Show(); // modal
    void Form_Load();
    void Command1_Click(); // OK
    void Command2_Click(); // Cancel
    // As in the administration dialog: a click handled inside the scan's event processing waits for it.
    void Click(const std::string& control, int index) override;

private:
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true); // outlived by clicks waiting to be handled
    std::unique_ptr<Form> form_;
    Week& pending_;
};
