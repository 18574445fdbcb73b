#include "tray/VeskTray.h"

#include "platform/ModalGate.h"
#include "platform/Platform.h"
#include "platform/Windowing.h"
#include "settings/AppError.h"
#include "tray/Credits.h"

#include <algorithm>

namespace {

constexpr int16_t LeftButton = 1;
constexpr int16_t RightButton = 2;

TrayShell& shell() {
    return platform::get<TrayShell>();
}

} // namespace

VeskTray::VeskTray(uintptr_t controlWindow, VeskTrayHost& host, PictureRef displayedPicture)
    : host_(host), controlWindow_(controlWindow), displayed_(std::move(displayedPicture)) {}

VeskTray::~VeskTray() {
    // The shell or the host may be gone first at shutdown; an icon left behind is the shell's to
    // clean up, and a destructor must not end the program.
    try {
        if (inTray_) {
            InTray(false);
        }
    } catch (...) {
    }
}

std::array<char, 64> VeskTray::TipField(const std::string& tip) {
    std::array<char, 64> field;
    field.fill(' ');
    const size_t n = std::min(tip.size(), field.size());
    std::copy_n(tip.begin(), n, field.begin());
    if (n < field.size()) {
        field[n] = '\0';
    }
    return field;
}

bool VeskTray::Notify(const std::string& title, const std::string& text) {
    return inTray_ && iconAdded_ && shell().ShowNotification(controlWindow_, iconId_, title, text);
}

TrayIconData VeskTray::record() const {
    TrayIconData data;
    data.hWnd = controlWindow_;
    data.uID = iconId_;
    return data;
}

void VeskTray::AddToTray(uintptr_t window, uint32_t id, const std::string& tip, const PictureRef& picture) {
    TrayIconData data;
    data.hWnd = window;
    data.uID = id;
    if (picture) {
        data.hIcon = picture->handle;
        data.uFlags |= TrayFlag::Icon;
        trayIcon_ = picture;
    }
    if (!tip.empty()) {
        const std::array<char, 64> field = TipField(tip);
        std::copy(field.begin(), field.end(), data.szTip);
        data.uFlags |= TrayFlag::Tip;
        tip_ = tip;
    }
    data.uCallbackMessage = TRAY_CALLBACK_MESSAGE;
    data.uFlags |= TrayFlag::Message;
    shell().NotifyIcon(TrayMessage::Add, data);
}

void VeskTray::RemoveFromTray(uintptr_t window, uint32_t id) {
    TrayIconData data;
    data.hWnd = window;
    data.uID = id;
    shell().NotifyIcon(TrayMessage::Delete, data);
}

void VeskTray::ChangeIcon(const PictureRef& picture) {
    if (!picture || picture->type != PictureType::Icon || !iconAdded_) {
        return;
    }
    TrayIconData data = record();
    data.uFlags = TrayFlag::Icon;
    data.hIcon = picture->handle;
    shell().NotifyIcon(TrayMessage::Modify, data);
}

void VeskTray::InTray(bool Show) {
    if (Show == inTray_) {
        return;
    }
    if (Show && host_.UserMode()) {
        shell().HookWindow(controlWindow_, *this);
        AddToTray(controlWindow_, iconId_, tip_, trayIcon_); // the tray icon even while disabled
        iconAdded_ = true;
    } else if (!Show && iconAdded_) {
        RemoveFromTray(controlWindow_, iconId_);
        shell().UnhookWindow(controlWindow_);
        iconAdded_ = false;
    }
    inTray_ = Show;
    host_.PropertyChanged("InTray");
}

void VeskTray::TrayIcon(PictureRef Icon) {
    trayIcon_ = std::move(Icon);
    displayed_ = trayIcon_;
    host_.PropertyChanged("TrayIcon");
    if (Enabled()) {
        ChangeIcon(trayIcon_);
    }
}

void VeskTray::DisabledIcon(PictureRef Icon) {
    disabledIcon_ = std::move(Icon);
    host_.PropertyChanged("DisabledIcon");
}

void VeskTray::TrayTip(const std::string& Tip) {
    if (iconAdded_) {
        TrayIconData data = record();
        data.uFlags = TrayFlag::Tip;
        const std::array<char, 64> field = TipField(Tip);
        std::copy(field.begin(), field.end(), data.szTip);
        shell().NotifyIcon(TrayMessage::Modify, data);
    }
    tip_ = Tip;
    host_.PropertyChanged("TrayTip");
}

void VeskTray::Enabled(bool New_Enabled) {
    enabled_ = New_Enabled;
    host_.PropertyChanged("Enabled");
    ChangeIcon(Enabled() ? trayIcon_ : disabledIcon_);
}

void VeskTray::AboutBox() {
    platform::get<Windowing>().MsgBox(std::string("VeskTray V.1.0 - ") + Credits::MakerLine + "\r\n" +
                                          Credits::WebAddress,
                                      MsgBoxIcon::Information, AppTitle);
}

uintptr_t VeskTray::TrayHWND() {
    return shell().TaskbarWindow();
}

void VeskTray::InitProperties() {
    InTray(false);
    TrayTip(std::string(1, '\0'));
    TrayIcon(displayed_);
}

void VeskTray::ReadProperties(const PropertyBag& bag) {
    InTray(bag.read("InTray", false));
    TrayIcon(bag.read("TrayIcon", displayed_));
    TrayTip(bag.read("TrayTip", std::string(1, '\0')));
    disabledIcon_ = bag.read("DisabledIcon", std::make_shared<const Picture>());
    enabled_ = bag.read("Enabled", true);
}

void VeskTray::WriteProperties(PropertyBag& bag) const {
    bag.write("InTray", inTray_);
    bag.write("TrayIcon", trayIcon_);
    bag.write("TrayTip", tip_);
    bag.write("DisabledIcon", disabledIcon_);
    if (!enabled_) {
        bag.write("Enabled", false);
    }
}

void VeskTray::TaskbarCreated() {
    if (iconAdded_) {
        AddToTray(controlWindow_, iconId_, tip_, trayIcon_);
    }
}

void VeskTray::HandleTrayMessage(uint32_t mouseMessage, uint32_t id) {
    // The host's handlers open menus and dialogs; inside the program's own event processing they wait
    // until it is over. The component may be gone by then.
    ModalGate::Run(alive_, [this, mouseMessage, id] { RaiseMouseEvent(mouseMessage, id); });
}

void VeskTray::RaiseMouseEvent(uint32_t mouseMessage, uint32_t id) {
    if (!Enabled()) {
        return;
    }
    const auto Id = static_cast<int32_t>(id);
    switch (mouseMessage) {
    case MouseMessage::Move:
        host_.MouseMove(Id);
        break;
    case MouseMessage::LeftDown:
        host_.MouseDown(LeftButton, Id);
        break;
    case MouseMessage::LeftUp:
        host_.MouseUp(LeftButton, Id);
        break;
    case MouseMessage::LeftDouble:
        host_.MouseDblClick(LeftButton, Id);
        break;
    case MouseMessage::RightDown:
        host_.MouseDown(RightButton, Id);
        break;
    case MouseMessage::RightUp:
        host_.MouseUp(RightButton, Id);
        break;
    case MouseMessage::RightDouble:
        host_.MouseDblClick(RightButton, Id);
        break;
    default:
        break; // middle button and everything else raise nothing
    }
}
