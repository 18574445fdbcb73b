#pragma once

#include "platform/ControlMap.h"
#include "platform/Forms.h"

#include <QDialog>
#include <QPointer>
#include <map>
#include <memory>
#include <string>

class QTimer;
class QWidget;

// A form of the program as a Qt dialog: controls made from the layout table at the screen's
// resolution, their events routed to the form's handlers.
class QtForm final : public Form {
public:
    QtForm(const FormLayout& layout, FormHandlers& handlers);
    ~QtForm() override;

    void Show(bool modal) override;
    void Hide() override;
    void Close() override;
    bool Visible() const override;
    uintptr_t Handle() const override;
    void SetCaption(const std::string& caption) override;
    void SetWindowIcon(uintptr_t icon) override;
    void SetPicture(const std::string& pictureBox, uintptr_t icon) override;

    std::string Text(const std::string& control, int index) const override;
    void SetText(const std::string& control, int index, const std::string& text) override;
    void SelectAll(const std::string& control, int index) override;
    void SetFocus(const std::string& control, int index) override;
    void SetEnabled(const std::string& control, int index, bool enabled) override;
    bool Enabled(const std::string& control, int index) const override;
    bool Value(const std::string& checkBox) const override;
    void SetValue(const std::string& checkBox, bool ticked) override;

    int ListCount(const std::string& list) const override;
    std::string List(const std::string& list, int entry) const override;
    void AddItem(const std::string& list, const std::string& text) override;
    void RemoveItem(const std::string& list, int entry) override;
    void SetList(const std::string& list, int entry, const std::string& text) override;
    int ListIndex(const std::string& list) const override;
    void SetListIndex(const std::string& list, int entry) override;

    void SetTimer(const std::string& timer, bool enabled) override;
    bool TimerEnabled(const std::string& timer) const override;

    // The window itself, for tests that drive it as a user would.
    QDialog* window() const;
    QWidget* control(const std::string& name, int index = -1) const;

private:
    class Dialog;
    template <class T> T* find(const std::string& name, int index) const;

    FormHandlers& handlers_;
    std::unique_ptr<Dialog> dialog_;
    ControlMap<QPointer<QWidget>> controls_;
    std::map<std::string, QTimer*> timers_;
};
