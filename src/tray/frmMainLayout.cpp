#include "tray/frmMainLayout.h"

#include <memory>

FormLayout frmMainLayout() {
    FormLayout layout;
    layout.name = "frmMain";
    layout.caption = "";
    layout.clientWidth = 3540;
    layout.clientHeight = 1770;
    layout.controls = {
        {.name = "Timer1", .kind = ControlKind::Timer, .interval = 500},
        {.name = "Timer2", .kind = ControlKind::Timer, .interval = 1000},
        {.name = "UnloadTimer", .kind = ControlKind::Timer, .interval = 100},
        {.name = "Picture1",
         .kind = ControlKind::PictureBox,
         .left = 90,
         .top = 1395,
         .width = 240,
         .height = 240,
         .tabIndex = 1},
        {.name = "Picture2",
         .kind = ControlKind::PictureBox,
         .left = 390,
         .top = 1395,
         .width = 240,
         .height = 240,
         .tabIndex = 2},
        {.name = "Command1",
         .kind = ControlKind::CommandButton,
         .caption = "HIDE",
         .left = 2415,
         .top = 1245,
         .width = 975,
         .height = 375,
         .tabIndex = 0,
         .isDefault = true},
    };
    return layout;
}

PropertyBag VeskTray1Properties(const PictureRef& openNetwork) {
    PropertyBag bag;
    bag.write("InTray", false);
    bag.write("TrayIcon", openNetwork);
    bag.write("TrayTip", std::string("Vesk Quietwire"));
    bag.write("DisabledIcon", std::make_shared<const Picture>());
    return bag;
}

FormLayout VeskTray1WindowLayout() {
    FormLayout layout;
    layout.name = "VeskTray1";
    return layout;
}
