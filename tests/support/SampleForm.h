#pragma once

#include "platform/Forms.h"

// One row per control, laid out as the behaviour's control tables are.
// clang-format off

// One layout table with a control of every kind, a frame holding controls, a control array, a default
// button and tab indexes out of creation order, for the tests of both windowing backends.
inline FormLayout sampleLayout() {
    using enum ControlKind;
    return {.name = "frmSample", .caption = "Sample", .clientWidth = 3885, .clientHeight = 2400, .controls = {
        {.name = "Frame1",               .kind = Frame,                             .caption = "Closed ports:",
         .left = 90,   .top = 90,   .width = 3600, .height = 1200, .tabIndex = 5, .bold = true},
        {.name = "Label1",               .kind = Label,     .container = "Frame1", .caption = "Password:",
         .left = 120,  .top = 240,  .width = 750,  .height = 195,  .tabIndex = 4},
        {.name = "Text1", .index = 0,    .kind = TextBox,   .container = "Frame1", .caption = "",
         .left = 900,  .top = 240,  .width = 1500, .height = 285,  .tabIndex = 1, .passwordChar = '*'},
        {.name = "Text1", .index = 1,    .kind = TextBox,   .container = "Frame1", .caption = "second",
         .left = 900,  .top = 600,  .width = 1500, .height = 285,  .tabIndex = 0},
        {.name = "Command1", .index = 0, .kind = CommandButton,                     .caption = "OK",
         .left = 2550, .top = 1500, .width = 930,  .height = 330,  .tabIndex = 2, .isDefault = true},
        {.name = "Command1", .index = 1, .kind = CommandButton,                     .caption = "Cancel",
         .left = 1515, .top = 1500, .width = 930,  .height = 330,  .tabIndex = 3},
        {.name = "Line1",                .kind = Line,                              .caption = "",
         .left = 90,   .top = 1400, .width = 3700, .height = 1400},
        {.name = "List1",                .kind = ListBox,                           .caption = "",
         .left = 90,   .top = 1900, .width = 2000, .height = 400,  .tabIndex = 6},
        {.name = "Timer1",               .kind = Timer,                             .caption = "",
         .interval = 20},
    }};
}

// The password prompt as the program shows it: Tahoma 8.25 pt, a label whose caption just fits its box.
inline FormLayout passwordLayout() {
    using enum ControlKind;
    return {.name = "frmPassword", .caption = "Vesk Quietwire", .clientWidth = 3885, .clientHeight = 1605,
            .centred = true, .controls = {
        {.name = "Text1",                .kind = TextBox,       .caption = "",
         .left = 360,  .top = 435, .width = 3135, .height = 285, .tabIndex = 0, .passwordChar = '*'},
        {.name = "Label1",               .kind = Label,         .caption = "Password:",
         .left = 360,  .top = 210, .width = 750,  .height = 195, .tabIndex = 1},
        {.name = "Command1", .index = 0, .kind = CommandButton, .caption = "OK",
         .left = 2550, .top = 945, .width = 930,  .height = 330, .tabIndex = 2, .isDefault = true},
        {.name = "Command1", .index = 1, .kind = CommandButton, .caption = "Cancel",
         .left = 1515, .top = 945, .width = 930,  .height = 330, .tabIndex = 3},
    }};
}

// A form with one picture box, for the program's icons.
inline FormLayout pictureLayout() {
    return {.clientWidth = 3540, .clientHeight = 1770, .controls = {
        {.name = "Picture1", .kind = ControlKind::PictureBox,
         .left = 90, .top = 1395, .width = 480, .height = 480, .tabIndex = 1},
    }};
}

// clang-format on
