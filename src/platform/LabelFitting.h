#pragma once

#include "platform/Forms.h"

#include <functional>
#include <string>

// Labels are laid out for Windows' Tahoma. Where the font at hand runs wider (Wine's own Tahoma by a few
// percent, Linux stand-ins such as DejaVu Sans by an eighth, even Tahoma drawn unhinted by a pixel), a
// caption would wrap out of its label. The form's font then shrinks by steps until every label holds its
// whole caption, down to three quarters of the design size at most.

// Sizes in the backend's own unit (points, pixels): the design size, the step, the smallest allowed.
struct FontSizeSteps {
    double design;
    double step;
    double smallest;
};

// Whether caption, in the form's font at size, fits a label of width by height pixels as the backend
// draws it (word-wrapped).
using CaptionFits = std::function<bool(double size, const std::string& caption, int width, int height)>;

// The largest size of steps at which every label of the layout fits; the smallest when none does.
double fitLabelFont(const FormLayout& layout, double dotsPerInchX, double dotsPerInchY, FontSizeSteps steps,
                    const CaptionFits& fits);
