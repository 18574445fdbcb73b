#include "admin/AdminLayouts.h"

FormLayout frmPasswordLayout() {
    FormLayout layout;
    layout.name = "frmPassword";
    layout.caption = "Vesk Quietwire";
    layout.clientWidth = 3885;
    layout.clientHeight = 1605;
    layout.centred = true;
    layout.controls = {
        {.name = "Text1",
         .kind = ControlKind::TextBox,
         .left = 360,
         .top = 435,
         .width = 3135,
         .height = 285,
         .tabIndex = 0,
         .passwordChar = '*'},
        {.name = "Label1",
         .kind = ControlKind::Label,
         .caption = "Password:",
         .left = 360,
         .top = 210,
         .width = 750,
         .height = 195,
         .tabIndex = 1},
        {.name = "Command1",
         .index = 0,
         .kind = ControlKind::CommandButton,
         .caption = "OK",
         .left = 2550,
         .top = 945,
         .width = 930,
         .height = 330,
         .tabIndex = 2,
         .isDefault = true},
        {.name = "Command1",
         .index = 1,
         .kind = ControlKind::CommandButton,
         .caption = "Cancel",
         .left = 1515,
         .top = 945,
         .width = 930,
         .height = 330,
         .tabIndex = 3},
    };
    return layout;
}

FormLayout frmAdminLayout() {
    FormLayout layout;
    layout.name = "frmAdmin";
    layout.caption = "Vesk Quietwire - Administration";
    layout.clientWidth = 5445;
    layout.clientHeight = 5745;
    layout.centred = true;
    using K = ControlKind;
    layout.controls = {
        {.name = "Frame2",
         .kind = K::Frame,
         .caption = "Port are open between:",
         .left = 165,
         .top = 150,
         .width = 2895,
         .height = 1215,
         .tabIndex = 7,
         .bold = true},
        {.name = "Label1",
         .kind = K::Label,
         .container = "Frame2",
         .caption = "Start time:",
         .left = 165,
         .top = 285,
         .width = 765,
         .height = 195,
         .tabIndex = 11},
        {.name = "Text1",
         .index = 0,
         .kind = K::TextBox,
         .container = "Frame2",
         .left = 960,
         .top = 255,
         .width = 1470,
         .height = 285,
         .tabIndex = 9},
        {.name = "Label2",
         .kind = K::Label,
         .container = "Frame2",
         .caption = "End time:",
         .left = 255,
         .top = 705,
         .width = 675,
         .height = 195,
         .tabIndex = 10},
        {.name = "Text1",
         .index = 1,
         .kind = K::TextBox,
         .container = "Frame2",
         .left = 960,
         .top = 675,
         .width = 1470,
         .height = 285,
         .tabIndex = 8},
        {.name = "Frame1",
         .kind = K::Frame,
         .caption = "Autostart Quietwire",
         .left = 3135,
         .top = 150,
         .width = 2145,
         .height = 1215,
         .tabIndex = 4,
         .bold = true},
        {.name = "Command7",
         .kind = K::CommandButton,
         .container = "Frame1",
         .caption = "Register service",
         .left = 240,
         .top = 270,
         .width = 1635,
         .height = 360,
         .tabIndex = 6},
        {.name = "Command8",
         .kind = K::CommandButton,
         .container = "Frame1",
         .caption = "Unregister service",
         .left = 240,
         .top = 705,
         .width = 1635,
         .height = 360,
         .tabIndex = 5},
        {.name = "Frame3",
         .kind = K::Frame,
         .caption = "Closed ports:",
         .left = 165,
         .top = 1455,
         .width = 5115,
         .height = 2625,
         .tabIndex = 12,
         .bold = true},
        {.name = "List1",
         .kind = K::ListBox,
         .container = "Frame3",
         .left = 150,
         .top = 270,
         .width = 4800,
         .height = 1815,
         .tabIndex = 16},
        {.name = "Command1",
         .kind = K::CommandButton,
         .container = "Frame3",
         .caption = "Remove",
         .left = 150,
         .top = 2160,
         .width = 930,
         .height = 315,
         .tabIndex = 15},
        {.name = "Command6",
         .kind = K::CommandButton,
         .container = "Frame3",
         .caption = "Edit",
         .left = 3030,
         .top = 2160,
         .width = 930,
         .height = 315,
         .tabIndex = 13},
        {.name = "Command2",
         .kind = K::CommandButton,
         .container = "Frame3",
         .caption = "Add",
         .left = 4035,
         .top = 2160,
         .width = 930,
         .height = 315,
         .tabIndex = 14},
        {.name = "Label4",
         .kind = K::Label,
         .caption = "You can name a port by adding a comma (,) after the portnumber. After the comma you may write "
                    "anything.",
         .left = 210,
         .top = 4155,
         .width = 4995,
         .height = 435,
         .tabIndex = 3},
        {.name = "Label3",
         .kind = K::Label,
         .caption = "Example: 21, FTP PORT",
         .left = 225,
         .top = 4575,
         .width = 1710,
         .height = 195,
         .tabIndex = 17},
        // The in-line block, beside the example: no control of the dialog moves for it.
        {.name = "Check1",
         .kind = K::CheckBox,
         .caption = "Also refuse new connections",
         .left = 2145,
         .top = 4590,
         .width = 3105,
         .height = 240,
         .tabIndex = 18},
        {.name = "Line1", .kind = K::Line, .left = 180, .top = 5025, .width = 5250, .height = 5025},
        {.name = "Command5",
         .kind = K::CommandButton,
         .caption = "Change password",
         .left = 195,
         .top = 5235,
         .width = 1620,
         .height = 330,
         .tabIndex = 2},
        {.name = "Command3",
         .kind = K::CommandButton,
         .caption = "Cancel",
         .left = 3075,
         .top = 5235,
         .width = 1020,
         .height = 330,
         .tabIndex = 0},
        {.name = "Command4",
         .kind = K::CommandButton,
         .caption = "OK",
         .left = 4215,
         .top = 5235,
         .width = 1020,
         .height = 330,
         .tabIndex = 1,
         .isDefault = true},
        // The week dialog's button, in the free room between Change password and Cancel.
        {.name = "Command9",
         .kind = K::CommandButton,
         .caption = "Schedule...",
         .left = 1935,
         .top = 5235,
         .width = 1020,
         .height = 330,
         .tabIndex = 19},
    };
    return layout;
}

FormLayout frmWeekLayout() {
    FormLayout layout;
    layout.name = "frmWeek";
    layout.caption = "Vesk Quietwire - Schedule";
    layout.clientWidth = 6255;
    layout.clientHeight = 3660;
    layout.centred = true;
    using K = ControlKind;
    constexpr int firstTop = 180;
    constexpr int pitch = 405;
    for (int day = 0; day < DaysInWeek; ++day) {
        const int top = firstTop + day * pitch;
        layout.controls.push_back({.name = "Label1",
                                   .index = day,
                                   .kind = K::Label,
                                   .caption = DayCaptions[day],
                                   .left = 165,
                                   .top = top + 30,
                                   .width = 975,
                                   .height = 195,
                                   .tabIndex = 2 * DaysInWeek + 2 + day});
        layout.controls.push_back({.name = "Text1",
                                   .index = day,
                                   .kind = K::TextBox,
                                   .left = 1215,
                                   .top = top,
                                   .width = 3300,
                                   .height = 285,
                                   .tabIndex = 2 * day});
        layout.controls.push_back({.name = WeekCheckBox(day),
                                   .kind = K::CheckBox,
                                   .caption = "Closed all day",
                                   .left = 4635,
                                   .top = top + 22,
                                   .width = 1455,
                                   .height = 240,
                                   .tabIndex = 2 * day + 1});
    }
    const int buttonsTop = firstTop + DaysInWeek * pitch + 120;
    layout.controls.push_back({.name = "Command2",
                               .kind = K::CommandButton,
                               .caption = "Cancel",
                               .left = 3915,
                               .top = buttonsTop,
                               .width = 1020,
                               .height = 330,
                               .tabIndex = 2 * DaysInWeek + 1});
    layout.controls.push_back({.name = "Command1",
                               .kind = K::CommandButton,
                               .caption = "OK",
                               .left = 5070,
                               .top = buttonsTop,
                               .width = 1020,
                               .height = 330,
                               .tabIndex = 2 * DaysInWeek,
                               .isDefault = true});
    return layout;
}

std::string WeekCheckBox(int day) {
    return "Check" + std::to_string(day + 1);
}

std::vector<MenuItem> mnuFile() {
    return {
        {"mnuAdministration", "Administration..."},
        {"mnuSpl1", "-"},
        {"mnuReadme", "Readme.txt"},
        {"mnuAbout", "About..."},
        {"mnuSpl01", "-"},
        {"mnuClose", "Exit"},
    };
}

std::vector<std::string> Captions(const std::vector<MenuItem>& menu) {
    std::vector<std::string> captions;
    for (const MenuItem& item : menu) {
        captions.push_back(item.caption);
    }
    return captions;
}
