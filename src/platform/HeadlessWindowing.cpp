#include "platform/HeadlessWindowing.h"

#include <utility>

namespace {

// A form of the display windowing that is never shown: a modal showing returns at once, as if the form
// had been closed before anyone saw it.
class UnseenForm final : public Form {
public:
    explicit UnseenForm(std::unique_ptr<Form> form) : form_(std::move(form)) {}

    void Show(bool) override {}
    void Hide() override { form_->Hide(); }
    void Close() override { form_->Close(); }
    bool Visible() const override { return form_->Visible(); }
    uintptr_t Handle() const override { return form_->Handle(); }
    void SetCaption(const std::string& caption) override { form_->SetCaption(caption); }
    void SetWindowIcon(uintptr_t icon) override { form_->SetWindowIcon(icon); }
    void SetPicture(const std::string& pictureBox, uintptr_t icon) override { form_->SetPicture(pictureBox, icon); }

    std::string Text(const std::string& control, int index) const override { return form_->Text(control, index); }
    void SetText(const std::string& control, int index, const std::string& text) override {
        form_->SetText(control, index, text);
    }
    void SelectAll(const std::string& control, int index) override { form_->SelectAll(control, index); }
    void SetFocus(const std::string& control, int index) override { form_->SetFocus(control, index); }
    void SetEnabled(const std::string& control, int index, bool enabled) override {
        form_->SetEnabled(control, index, enabled);
    }
    bool Enabled(const std::string& control, int index) const override { return form_->Enabled(control, index); }
    bool Value(const std::string& checkBox) const override { return form_->Value(checkBox); }
    void SetValue(const std::string& checkBox, bool ticked) override { form_->SetValue(checkBox, ticked); }

    int ListCount(const std::string& list) const override { return form_->ListCount(list); }
    std::string List(const std::string& list, int entry) const override { return form_->List(list, entry); }
    void AddItem(const std::string& list, const std::string& text) override { form_->AddItem(list, text); }
    void RemoveItem(const std::string& list, int entry) override { form_->RemoveItem(list, entry); }
    void SetList(const std::string& list, int entry, const std::string& text) override {
        form_->SetList(list, entry, text);
    }
    int ListIndex(const std::string& list) const override { return form_->ListIndex(list); }
    void SetListIndex(const std::string& list, int entry) override { form_->SetListIndex(list, entry); }

    void SetTimer(const std::string& timer, bool enabled) override { form_->SetTimer(timer, enabled); }
    bool TimerEnabled(const std::string& timer) const override { return form_->TimerEnabled(timer); }

private:
    std::unique_ptr<Form> form_;
};

} // namespace

HeadlessWindowing::HeadlessWindowing(std::unique_ptr<Windowing> system) : system_(std::move(system)) {}

std::unique_ptr<Form> HeadlessWindowing::CreateForm(const FormLayout& layout, FormHandlers& handlers) {
    return std::make_unique<UnseenForm>(system_->CreateForm(layout, handlers));
}

void HeadlessWindowing::MsgBox(const std::string&, MsgBoxIcon, const std::string&) {}

std::optional<std::string> HeadlessWindowing::InputBox(const std::string&, const std::string&, const std::string&) {
    return std::nullopt;
}

int HeadlessWindowing::PopupMenu(const std::vector<std::string>&) {
    return -1;
}

void HeadlessWindowing::DoEvents() {
    system_->DoEvents();
}
void HeadlessWindowing::Pause(int milliseconds) {
    system_->Pause(milliseconds);
}
void HeadlessWindowing::Post(std::function<void()> task) {
    system_->Post(std::move(task));
}
void HeadlessWindowing::Run() {
    system_->Run();
}
void HeadlessWindowing::Quit() {
    system_->Quit();
}
bool HeadlessWindowing::PrevInstance() {
    return system_->PrevInstance();
}
uint32_t HeadlessWindowing::PrevInstanceId() {
    return system_->PrevInstanceId();
}
void HeadlessWindowing::HideFromTaskList() {
    system_->HideFromTaskList();
}
int32_t HeadlessWindowing::BringToFront(uintptr_t window) {
    return system_->BringToFront(window);
}
int32_t HeadlessWindowing::ShellOpen(const std::string& file, const std::string& directory, uintptr_t window,
                                     const std::string& parameters, const std::string& operation) {
    return system_->ShellOpen(file, directory, window, parameters, operation);
}
