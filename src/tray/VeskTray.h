#pragma once

#include "platform/TrayShell.h"
#include "tray/Picture.h"
#include "tray/PropertyBag.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

// What the window hosting a VeskTray gives it and hears from it: the host framework's run mode and
// change notices, and the component's four mouse events (Button: 1 left, 2 right; Id: always 0).
class VeskTrayHost {
public:
    virtual ~VeskTrayHost() = default;
    virtual bool UserMode() const = 0; // false while the host window is being designed
    virtual void PropertyChanged(const std::string& property) { (void)property; }
    virtual void MouseMove(int32_t Id) { (void)Id; }
    virtual void MouseDown(int16_t Button, int32_t Id) { (void)Button, (void)Id; }
    virtual void MouseUp(int16_t Button, int32_t Id) { (void)Button, (void)Id; }
    virtual void MouseDblClick(int16_t Button, int32_t Id) { (void)Button, (void)Id; }
};

// The notification-area icon component: puts one icon in the tray for its host window, keeps its
// picture and tip current, and reports mouse activity on it as events. States: Out (not in the
// tray), Marked (InTray set while designing; the shell is never called) and In (icon added, callback
// messages routed to HandleTrayMessage).
class VeskTray final : public TrayMessageSink {
public:
    // controlWindow: the component's own window, owner of the icon and receiver of its messages.
    // displayedPicture: the component's built-in picture, the TrayIcon of a new instance.
    VeskTray(uintptr_t controlWindow, VeskTrayHost& host, PictureRef displayedPicture);
    ~VeskTray() override;
    VeskTray(const VeskTray&) = delete;
    VeskTray& operator=(const VeskTray&) = delete;

    PictureRef TrayIcon() const { return trayIcon_; }
    void TrayIcon(PictureRef Icon);
    PictureRef DisabledIcon() const { return disabledIcon_; }
    void DisabledIcon(PictureRef Icon);
    const std::string& TrayTip() const { return tip_; }
    // A notification at the icon while it is in the tray; false where none could be shown.
    bool Notify(const std::string& title, const std::string& text);
    void TrayTip(const std::string& Tip);
    bool InTray() const { return inTray_; }
    void InTray(bool Show);
    bool Enabled() const { return enabled_; }
    void Enabled(bool New_Enabled);
    void AboutBox();
    uintptr_t TrayHWND();

    // Host framework hooks.
    void InitProperties();
    void ReadProperties(const PropertyBag& bag);
    void WriteProperties(PropertyBag& bag) const;
    PictureRef DisplayedPicture() const { return displayed_; }

    // A mouse message over the icon (the callback's lParam) and the icon's identifier (its wParam).
    void HandleTrayMessage(uint32_t mouseMessage, uint32_t id) override;
    // The taskbar came back empty after a restart: the icon is added again at once, without waiting
    // for the host's taskbar watch.
    void TaskbarCreated() override;

    // The 64-character tip field: the text, a NUL, then spaces; cut to 64 characters.
    static std::array<char, 64> TipField(const std::string& tip);

    // The designer keeps the component 240 by 240 twips.
    static constexpr int SizeTwips = 240;

private:
    void AddToTray(uintptr_t window, uint32_t id, const std::string& tip, const PictureRef& picture);
    void RemoveFromTray(uintptr_t window, uint32_t id);
    void ChangeIcon(const PictureRef& picture);
    TrayIconData record() const;
    void RaiseMouseEvent(uint32_t mouseMessage, uint32_t id);

    VeskTrayHost& host_;
    bool inTray_ = false;
    bool iconAdded_ = false;
    const uint32_t iconId_ = 0;
    const uintptr_t controlWindow_;
    std::string tip_;
    PictureRef trayIcon_;
    PictureRef disabledIcon_;
    PictureRef displayed_;
    bool enabled_ = true;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true); // outlived by events waiting to be raised
};
