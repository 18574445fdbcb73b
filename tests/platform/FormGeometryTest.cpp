#include "platform/FormGeometry.h"
#include "admin/AdminLayouts.h"
#include "support/SampleForm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

// The rules by which both windowing backends place a form's controls.
namespace {

const ControlLayout& row(const FormLayout& layout, const std::string& name, int index = -1) {
    return *std::find_if(layout.controls.begin(), layout.controls.end(),
                         [&](const ControlLayout& c) { return c.name == name && c.index == index; });
}

// clang-format off
FormLayout framesInFrames() {
    using enum ControlKind;
    return {.controls = {
        {.name = "Outer", .kind = Frame,                       .left = 90,  .top = 150,  .width = 3000, .height = 2000},
        {.name = "Inner", .kind = Frame, .container = "Outer", .left = 300, .top = 450,  .width = 1500, .height = 900},
        {.name = "Deep",  .kind = Label, .container = "Inner", .left = 15,  .top = 30,   .width = 300,  .height = 195},
        {.name = "Early", .kind = Label, .container = "Late",  .left = 0,   .top = 0,    .width = 300,  .height = 195},
        {.name = "Late",  .kind = Frame,                       .left = 0,   .top = 2400, .width = 1000, .height = 500},
    }};
}
// clang-format on

} // namespace

TEST(FormGeometry, TwipsArePixelsAtTheScreensResolutionRoundedToTheNearest) {
    EXPECT_EQ(twipsToPixels(3885, 96), 259) << "15 twips to the pixel at 96 dots per inch";
    EXPECT_EQ(twipsToPixels(7, 96), 0);
    EXPECT_EQ(twipsToPixels(8, 96), 1);
    EXPECT_EQ(twipsToPixels(3885, 120), 324);
    EXPECT_EQ(twipsToPixels(1440, 144), 144) << "an inch is an inch at any resolution";
}

TEST(FormGeometry, AControlInAFrameIsPlacedWithinItAndOnTheFormAtTheFramesOffset) {
    const FormLayout layout = sampleLayout();
    const FormGeometry geometry(layout, 96, 96);
    EXPECT_EQ(geometry.clientWidth(), 259);
    EXPECT_EQ(geometry.clientHeight(), 160);
    const Placement label = geometry.place(row(layout, "Label1"));
    EXPECT_EQ(label.rect.left, 8);
    EXPECT_EQ(label.rect.top, 16);
    EXPECT_EQ(label.rect.width, 50);
    EXPECT_EQ(label.onForm().left, 6 + 8);
    EXPECT_EQ(label.onForm().top, 6 + 16);
    const Placement ok = geometry.place(row(layout, "Command1", 0));
    EXPECT_EQ(ok.onForm().left, ok.rect.left) << "a control on the form itself";
}

TEST(FormGeometry, TheOffsetsOfFramesInFramesAddUp) {
    const FormLayout layout = framesInFrames();
    const FormGeometry geometry(layout, 96, 96);
    const PixelRect deep = geometry.place(row(layout, "Deep")).onForm();
    EXPECT_EQ(deep.left, 6 + 20 + 1);
    EXPECT_EQ(deep.top, 10 + 30 + 2);
}

TEST(FormGeometry, AControlInAFrameThatDoesNotComeBeforeItCannotBePlaced) {
    const FormLayout layout = framesInFrames();
    const FormGeometry geometry(layout, 96, 96);
    EXPECT_THROW(geometry.place(row(layout, "Early")), std::logic_error);
    const ControlLayout stranger = row(layout, "Deep");
    EXPECT_THROW(geometry.place(stranger), std::logic_error) << "a row of no table the geometry was made from";
}

TEST(FormGeometry, ALineIsARuleFromItsStartToItsEndPointWhicheverWayItRuns) {
    using enum ControlKind;
    // clang-format off
    const FormLayout layout{.controls = {
        {.name = "Rightward", .kind = Line, .left = 180,  .top = 5025, .width = 5250, .height = 5025},
        {.name = "Leftward",  .kind = Line, .left = 5250, .top = 5025, .width = 180,  .height = 5025},
        {.name = "Down",      .kind = Line, .left = 300,  .top = 150,  .width = 300,  .height = 1500},
    }};
    // clang-format on
    const FormGeometry geometry(layout, 96, 96);
    const PixelRect right = geometry.place(row(layout, "Rightward")).rect;
    EXPECT_EQ(right.left, 12);
    EXPECT_EQ(right.top, 335);
    EXPECT_EQ(right.width, 338);
    EXPECT_EQ(right.height, 2);
    const PixelRect left = geometry.place(row(layout, "Leftward")).rect;
    EXPECT_EQ(std::vector<int>({left.left, left.top, left.width, left.height}),
              std::vector<int>({right.left, right.top, right.width, right.height}));
    const PixelRect down = geometry.place(row(layout, "Down")).rect;
    EXPECT_EQ(down.width, 2);
    EXPECT_EQ(down.height, 90);
}

TEST(FormGeometry, TabGoesThroughTheControlsThatTakeTheFocusByTabIndex) {
    const FormLayout layout = sampleLayout();
    std::vector<std::string> order;
    for (const ControlLayout* c : tabOrder(layout)) {
        order.push_back(c->name + (c->index >= 0 ? "(" + std::to_string(c->index) + ")" : ""));
    }
    EXPECT_EQ(order, (std::vector<std::string>{"Text1(1)", "Text1(0)", "Command1(0)", "Command1(1)", "List1"}))
        << "the label and the frame take no focus";
}

// A control added to a form goes into free room: none covers another of its frame or form, none reaches past
// its frame or the form's edge. Labels may touch one another (the hint's two lines do, by design).
TEST(FormGeometry, NoControlOfTheProgramsFormsCoversAnotherOrLeavesItsContainer) {
    for (const FormLayout& layout : {frmPasswordLayout(), frmAdminLayout(), frmWeekLayout()}) {
        std::vector<const ControlLayout*> placed;
        for (const ControlLayout& c : layout.controls) {
            if (c.kind != ControlKind::Line && c.kind != ControlKind::Timer) {
                placed.push_back(&c);
            }
        }
        for (const ControlLayout* c : placed) {
            const ControlLayout* frame = c->container.empty() ? nullptr : &row(layout, c->container);
            EXPECT_TRUE(c->left >= 0 && c->top >= 0 &&
                        c->left + c->width <= (frame != nullptr ? frame->width : layout.clientWidth) &&
                        c->top + c->height <= (frame != nullptr ? frame->height : layout.clientHeight))
                << layout.name << "." << c->name << c->index << " leaves its container";
            for (const ControlLayout* d : placed) {
                const bool bothLabels = c->kind == ControlKind::Label && d->kind == ControlKind::Label;
                if (c < d && c->container == d->container && !bothLabels) {
                    EXPECT_FALSE(c->left < d->left + d->width && d->left < c->left + c->width &&
                                 c->top < d->top + d->height && d->top < c->top + c->height)
                        << layout.name << "." << c->name << c->index << " covers " << d->name << d->index;
                }
            }
        }
    }
}
