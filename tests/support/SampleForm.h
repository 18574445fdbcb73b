#pragma once

#include "platform/Forms.h"

// One layout table with a control of every kind, a frame holding controls, a control array, a default
// button and tab indexes out of creation order, for the tests of both windowing backends.
inline FormLayout sampleLayout() {
    FormLayout layout;
    layout.name = "frmSample";
    layout.caption = "Sample";
    layout.clientWidth = 3885;
    layout.clientHeight = 2400;
    auto add = [&layout](ControlLayout c) { layout.controls.push_back(std::move(c)); };
    add({"Frame1", -1, ControlKind::Frame, "", "Closed ports:", 90, 90, 3600, 1200, 5, false, '\0', true, 0});
    add({"Label1", -1, ControlKind::Label, "Frame1", "Password:", 120, 240, 750, 195, 4, false, '\0', false, 0});
    add({"Text1", 0, ControlKind::TextBox, "Frame1", "", 900, 240, 1500, 285, 1, false, '*', false, 0});
    add({"Text1", 1, ControlKind::TextBox, "Frame1", "second", 900, 600, 1500, 285, 0, false, '\0', false, 0});
    add({"Command1", 0, ControlKind::CommandButton, "", "OK", 2550, 1500, 930, 330, 2, true, '\0', false, 0});
    add({"Command1", 1, ControlKind::CommandButton, "", "Cancel", 1515, 1500, 930, 330, 3, false, '\0', false, 0});
    add({"Line1", -1, ControlKind::Line, "", "", 90, 1400, 3700, 1400, -1, false, '\0', false, 0});
    add({"List1", -1, ControlKind::ListBox, "", "", 90, 1900, 2000, 400, 6, false, '\0', false, 0});
    add({"Timer1", -1, ControlKind::Timer, "", "", 0, 0, 0, 0, -1, false, '\0', false, 20});
    return layout;
}

// The password prompt as the program shows it: Tahoma 8.25 pt, a label whose caption just fits its box.
inline FormLayout passwordLayout() {
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
