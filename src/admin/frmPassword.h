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
    void Form_Load();
    void Command1_Click(int index);
    void Click(const std::string& control, int index) override;

private:
    std::unique_ptr<Form> form_;
    uintptr_t icon_;
};
