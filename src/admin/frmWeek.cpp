#include "admin/frmWeek.h"

#include "admin/AdminLayouts.h"
#include "platform/ModalGate.h"
#include "platform/Platform.h"
#include "platform/Windowing.h"
#include "settings/AppError.h"

frmWeek::frmWeek(uintptr_t windowIcon, Week& pending)
    : form_(platform::get<Windowing>().CreateForm(frmWeekLayout(), *this)), pending_(pending) {
    form_->SetWindowIcon(windowIcon);
    Form_Load();
}

frmWeek::~frmWeek() = default;

void frmWeek::Show() {
    form_->Show(true);
}

void frmWeek::Form_Load() {
    for (int day = 0; day < DaysInWeek; ++day) {
        const std::string& stored = pending_[day];
        const DayRuleRead read = ReadDayRule(stored);
        const bool closed = read.rule && read.rule->kind == DayRule::Kind::Closed;
        form_->SetValue(WeekCheckBox(day), closed);
        // A stored row that does not read is shown as it is, for the administrator to mend.
        form_->SetText("Text1", day, closed ? std::string() : read.rule ? DayRuleText(*read.rule) : stored);
    }
}

void frmWeek::Click(const std::string& control, int) {
    ModalGate::Run(alive_, [this, control] {
        if (control == "Command1") {
            Command1_Click();
        } else if (control == "Command2") {
            Command2_Click();
        }
    });
}

void frmWeek::Command1_Click() {
    Week week;
    for (int day = 0; day < DaysInWeek; ++day) {
        if (form_->Value(WeekCheckBox(day))) {
            week[day] = DayRuleText(DayRule{DayRule::Kind::Closed, {}});
            continue;
        }
        const DayRuleRead read = ReadDayRule(form_->Text("Text1", day));
        if (!read.rule) {
            platform::get<Windowing>().MsgBox(std::string(DayCaptions[day]) + ": " + read.reason,
                                              MsgBoxIcon::Exclamation, AppTitle);
            form_->SelectAll("Text1", day);
            form_->SetFocus("Text1", day);
            return;
        }
        week[day] = DayRuleText(*read.rule);
    }
    pending_ = week;
    form_->Close();
}

void frmWeek::Command2_Click() {
    form_->Close();
}
