#pragma once

#include "admin/AdminLayouts.h"
#include "fakes/FormRecorder.h"
#include "platform/FormGeometry.h"
#include "platform/Windowing.h"
#include "support/SampleForm.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

// What every windowing backend's forms do, the same on each: one suite, instantiated in each backend's
// test program with a driver that reads the screen and acts as a user would. The driver (Backend) gives:
//   static std::unique_ptr<Windowing> windowing();  the display windowing
//   static double dotsPerInch();                     the screen's resolution
//   static std::string title(const Form&);
//   static PixelRect clientArea(const Form&);        the inside of the window, at 0, 0
//   static PixelRect onForm(const Form&, name, index);  where the control shows in the form's inside
//   static char passwordChar(const Form&, name, index);  what a text box shows for each character
//   static bool bold(const Form&, name, index);
//   static double fontSize(const Form&, name, index);   in the backend's own unit
//   static bool showsWholeCaption(const Form&, const ControlLayout&);  a label's or a frame's
//   static void activate(Form&);                     shows the form and makes it the active window
//   static void press(Form&, UserKey);               a key, in the control that has the focus
//   static void click(Form&, name, index);           a mouse click on a button
//   static void closeBox(Form&);                     the window's close box
//   static bool focused(const Form&, name, index);
enum class UserKey { Tab, Enter, Escape };

template <class Backend> class FormConformance : public ::testing::Test {
protected:
    std::unique_ptr<Form> make(const FormLayout& layout) { return windowing_->CreateForm(layout, handlers_); }

    std::unique_ptr<Windowing> windowing_ = Backend::windowing();
    FormRecorder handlers_;
};

TYPED_TEST_SUITE_P(FormConformance);

TYPED_TEST_P(FormConformance, ControlsCarryTheLayoutsCaptionsPositionsAndFont) {
    using B = TypeParam;
    const auto form = this->make(sampleLayout());
    const auto px = [](int twips) { return twipsToPixels(twips, B::dotsPerInch()); };
    EXPECT_EQ(B::title(*form), "Sample");
    const PixelRect client = B::clientArea(*form);
    EXPECT_EQ(client.width, px(3885));
    EXPECT_EQ(client.height, px(2400));
    const PixelRect label = B::onForm(*form, "Label1", -1);
    EXPECT_EQ(label.left, px(90) + px(120)) << "placed at its frame's offset";
    EXPECT_EQ(label.top, px(90) + px(240));
    EXPECT_EQ(label.width, px(750));
    EXPECT_EQ(form->Text("Label1"), "Password:");
    EXPECT_EQ(form->Text("Text1", 1), "second");
    EXPECT_EQ(form->Text("Command1", 1), "Cancel");
    EXPECT_EQ(B::passwordChar(*form, "Text1", 0), '*');
    EXPECT_TRUE(B::bold(*form, "Frame1", -1));
    EXPECT_FALSE(B::bold(*form, "Label1", -1)) << "a frame's controls are not bold";
    EXPECT_FALSE(B::bold(*form, "Text1", 0));
    EXPECT_EQ(B::fontSize(*form, "Text1", 0), B::fontSize(*form, "Label1", -1)) << "one size for the form";
}

TYPED_TEST_P(FormConformance, EveryLabelAndFrameShowsItsWholeCaption) {
    for (const FormLayout& layout : {sampleLayout(), passwordLayout(), frmPasswordLayout(), frmAdminLayout()}) {
        const auto form = this->make(layout);
        for (const ControlLayout& c : layout.controls) {
            if (c.kind == ControlKind::Label || c.kind == ControlKind::Frame) {
                EXPECT_TRUE(TypeParam::showsWholeCaption(*form, c)) << layout.name << "." << c.name << " is cut";
            }
        }
    }
}

TYPED_TEST_P(FormConformance, AControlTheFormDoesNotHaveIsAFaultOfTheProgram) {
    const auto form = this->make(sampleLayout());
    EXPECT_THROW(form->Text("Text1", 2), std::logic_error);
    EXPECT_THROW(form->SetEnabled("Nothing", -1, false), std::logic_error);
    FormLayout misplaced = sampleLayout();
    misplaced.controls.push_back({.name = "Label9", .kind = ControlKind::Label, .container = "Frame9"});
    EXPECT_THROW(this->make(misplaced), std::logic_error);
}

TYPED_TEST_P(FormConformance, TabGoesThroughTheControlsInTabIndexOrderFromTheFirst) {
    using B = TypeParam;
    const auto form = this->make(sampleLayout());
    B::activate(*form);
    EXPECT_TRUE(B::focused(*form, "Text1", 1)) << "the first in tab order has the focus when the form opens";
    const std::vector<std::pair<std::string, int>> order{{"Text1", 0}, {"Command1", 0}, {"Command1", 1}, {"List1", -1}};
    for (const auto& [name, index] : order) {
        B::press(*form, UserKey::Tab);
        EXPECT_TRUE(B::focused(*form, name, index)) << name << " " << index;
    }
    form->Hide();
}

TYPED_TEST_P(FormConformance, EnterPressesTheDefaultButtonEscDoesNothingAndArraysShareAHandler) {
    using B = TypeParam;
    const auto form = this->make(sampleLayout());
    B::activate(*form);
    form->SetFocus("Text1", 0);
    B::press(*form, UserKey::Enter);
    B::click(*form, "Command1", 1);
    form->SetFocus("Text1", 0);
    B::press(*form, UserKey::Escape);
    EXPECT_EQ(this->handlers_.events, (std::vector<std::string>{"Click Command1 0", "Click Command1 1"}));
    EXPECT_TRUE(form->Visible()) << "Esc closed the form";
    form->Hide();
}

TYPED_TEST_P(FormConformance, ACloseRequestCanBeCancelledAndTellsWhyItCame) {
    const auto form = this->make(sampleLayout());
    form->Show(false);
    this->handlers_.cancelClose = true;
    TypeParam::closeBox(*form);
    EXPECT_TRUE(form->Visible());
    this->handlers_.cancelClose = false;
    form->Close();
    EXPECT_FALSE(form->Visible());
    EXPECT_EQ(this->handlers_.events, (std::vector<std::string>{"QueryUnload user", "QueryUnload code", "Unload"}));
}

TYPED_TEST_P(FormConformance, AModalShowingRunsTimersAndReturnsWhenTheFormCloses) {
    const auto form = this->make(sampleLayout());
    int ticks = 0;
    this->handlers_.onTick = [&](const std::string&) {
        if (++ticks == 3) {
            form->Close();
        }
    };
    form->SetTimer("Timer1", true);
    EXPECT_TRUE(form->TimerEnabled("Timer1"));
    form->Show(true);
    EXPECT_FALSE(form->Visible());
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(this->handlers_.events.back(), "Unload");
    form->SetTimer("Timer1", false);
    EXPECT_FALSE(form->TimerEnabled("Timer1"));
}

TYPED_TEST_P(FormConformance, ListBoxesAddRemoveReplaceAndSelect) {
    const auto form = this->make(sampleLayout());
    form->AddItem("List1", "21, FTP PORT");
    form->AddItem("List1", "25");
    form->AddItem("List1", "110");
    EXPECT_EQ(form->ListIndex("List1"), -1);
    form->RemoveItem("List1", 0);
    form->SetList("List1", 1, "995");
    form->SetListIndex("List1", 1);
    EXPECT_EQ(form->ListCount("List1"), 2);
    EXPECT_EQ(form->List("List1", 0), "25");
    EXPECT_EQ(form->List("List1", 1), "995");
    EXPECT_EQ(form->ListIndex("List1"), 1);
}

REGISTER_TYPED_TEST_SUITE_P(FormConformance, ControlsCarryTheLayoutsCaptionsPositionsAndFont,
                            EveryLabelAndFrameShowsItsWholeCaption, AControlTheFormDoesNotHaveIsAFaultOfTheProgram,
                            TabGoesThroughTheControlsInTabIndexOrderFromTheFirst,
                            EnterPressesTheDefaultButtonEscDoesNothingAndArraysShareAHandler,
                            ACloseRequestCanBeCancelledAndTellsWhyItCame,
                            AModalShowingRunsTimersAndReturnsWhenTheFormCloses, ListBoxesAddRemoveReplaceAndSelect);
