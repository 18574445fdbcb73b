#pragma once

#include "platform/Forms.h"

#include <cstdint>
#include <memory>
#include <string>

// The password prompt in front of every administrative command. Its caller clears PasswordOK, shows
// it and reads PasswordOK once it has closed: true only when the administrator password was typed.
class frmPassword final : public FormHandlers {
public:
    explicit frmPassword(uintptr_t mainWindowIcon);
    ~frmPassword() override;

    void Show(); // modal
    uintptr_t Handle() const { return form_->Handle(); }
    void Form_Load();
    void Command1_Click(int index);
    // A click (or Enter) handled inside the scan's event processing waits until the scan is over: its
    // handler may open a prompt or a box, which must not hold the scan off.
    void Click(const std::string& control, int index) override;

private:
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true); // outlived by clicks waiting to be handled
    std::unique_ptr<Form> form_;
    uintptr_t icon_;
    bool checking_ = false;
};
