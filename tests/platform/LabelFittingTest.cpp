#include "platform/LabelFitting.h"
#include "support/SampleForm.h"

#include <gtest/gtest.h>

#include <string>

// The form's font shrinks by steps until every label holds its caption, never below the smallest size.
namespace {

// A font whose characters are size pixels wide on one line: "Password:" needs 9 * size.
CaptionFits oneLineOfWidth(int* measured = nullptr) {
    return [measured](double size, const std::string& caption, int width, int) {
        if (measured != nullptr) {
            ++*measured;
        }
        return static_cast<double>(caption.size()) * size <= width;
    };
}

} // namespace

TEST(LabelFitting, TheDesignSizeStaysWhereEveryLabelFits) {
    // Label1 is 750 twips: 50 pixels at 96 dots per inch, room for "Password:" at 5 pixels a character.
    EXPECT_EQ(fitLabelFont(sampleLayout(), 96, 96, {5, 1, 3}, oneLineOfWidth()), 5);
}

TEST(LabelFitting, TheFontShrinksByStepsUntilTheWidestCaptionFits) {
    EXPECT_EQ(fitLabelFont(sampleLayout(), 96, 96, {8, 0.5, 4}, oneLineOfWidth()), 5.5);
    EXPECT_EQ(fitLabelFont(sampleLayout(), 192, 192, {16, 1, 12}, oneLineOfWidth()), 12) << "at most to the smallest";
}

TEST(LabelFitting, OnlyLabelsAreMeasured) {
    int measured = 0;
    fitLabelFont(sampleLayout(), 96, 96, {5, 1, 3}, oneLineOfWidth(&measured));
    EXPECT_EQ(measured, 1) << "the sample has one label; buttons and frames keep to the form's font";
}
