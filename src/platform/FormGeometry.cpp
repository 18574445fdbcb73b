#include "platform/FormGeometry.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>

int twipsToPixels(int twips, double dotsPerInch) {
    return static_cast<int>(std::lround(twips * dotsPerInch / 1440.0));
}

LineEnds lineEnds(const ControlLayout& line) {
    return {{line.left, line.top}, {line.width, line.height}};
}

PixelRect Placement::onForm() const {
    return {containerOffset.x + rect.left, containerOffset.y + rect.top, rect.width, rect.height};
}

FormGeometry::FormGeometry(const FormLayout& layout, double dotsPerInchX, double dotsPerInchY)
    : layout_(layout), dpiX_(dotsPerInchX), dpiY_(dotsPerInchY) {
    constexpr int RuleThickness = 2;     // an etched line: a dark and a light pixel
    std::map<std::string, Point> frames; // the frames met so far: where their inside begins
    for (const ControlLayout& c : layout.controls) {
        Point offset;
        if (!c.container.empty()) {
            const auto frame = frames.find(c.container);
            if (frame == frames.end()) {
                placements_.emplace_back();
                continue;
            }
            offset = frame->second;
        }
        PixelRect rect{twipsToPixels(c.left, dpiX_), twipsToPixels(c.top, dpiY_), twipsToPixels(c.width, dpiX_),
                       twipsToPixels(c.height, dpiY_)};
        if (c.kind == ControlKind::Line) {
            const LineEnds ends = lineEnds(c);
            const int x1 = twipsToPixels(ends.start.x, dpiX_);
            const int x2 = twipsToPixels(ends.end.x, dpiX_);
            const int y1 = twipsToPixels(ends.start.y, dpiY_);
            const int y2 = twipsToPixels(ends.end.y, dpiY_);
            rect = {std::min(x1, x2), std::min(y1, y2), std::max(std::abs(x2 - x1), RuleThickness),
                    std::max(std::abs(y2 - y1), RuleThickness)};
        }
        const Placement placement{rect, offset};
        if (c.kind == ControlKind::Frame) {
            const PixelRect onForm = placement.onForm();
            frames[c.name] = {onForm.left, onForm.top};
        }
        placements_.push_back(placement);
    }
}

int FormGeometry::clientWidth() const {
    return twipsToPixels(layout_.clientWidth, dpiX_);
}

int FormGeometry::clientHeight() const {
    return twipsToPixels(layout_.clientHeight, dpiY_);
}

Placement FormGeometry::place(const ControlLayout& control) const {
    const auto& rows = layout_.controls;
    const std::less<const ControlLayout*> before;
    if (before(&control, rows.data()) || !before(&control, rows.data() + rows.size())) {
        throw std::logic_error(control.name + " is not a control of form " + layout_.name);
    }
    const std::optional<Placement>& placement = placements_[static_cast<size_t>(&control - rows.data())];
    if (!placement) {
        throw std::logic_error(control.name + " is in " + control.container + ", which is no frame before it");
    }
    return *placement;
}

std::vector<const ControlLayout*> tabOrder(const FormLayout& layout) {
    std::vector<const ControlLayout*> order;
    for (const ControlLayout& c : layout.controls) {
        const bool takesFocus =
            c.kind == ControlKind::TextBox || c.kind == ControlKind::CommandButton || c.kind == ControlKind::ListBox;
        if (takesFocus && c.tabIndex >= 0) {
            order.push_back(&c);
        }
    }
    std::stable_sort(order.begin(), order.end(),
                     [](const ControlLayout* a, const ControlLayout* b) { return a->tabIndex < b->tabIndex; });
    return order;
}
