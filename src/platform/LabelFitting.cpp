#include "platform/LabelFitting.h"
#include "platform/FormGeometry.h"

#include <algorithm>

double fitLabelFont(const FormLayout& layout, double dotsPerInchX, double dotsPerInchY, FontSizeSteps steps,
                    const CaptionFits& fits) {
    const auto allFit = [&](double size) {
        return std::all_of(layout.controls.begin(), layout.controls.end(), [&](const ControlLayout& c) {
            return c.kind != ControlKind::Label ||
                   fits(size, c.caption, twipsToPixels(c.width, dotsPerInchX), twipsToPixels(c.height, dotsPerInchY));
        });
    };
    double size = steps.design;
    while (!allFit(size) && size - steps.step >= steps.smallest) {
        size -= steps.step;
    }
    return size;
}
