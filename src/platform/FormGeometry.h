#pragma once

#include "platform/Forms.h"

#include <cstddef>
#include <optional>
#include <vector>

// The rules by which every windowing backend places a form's controls: twips to pixels, lines, frames
// and the tab order. One place, so that the forms look and behave alike on every platform.

// A point in twips or in pixels, as its use says.
struct Point {
    int x = 0;
    int y = 0;
};

struct PixelRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

// Twips (1/1440 inch) to whole pixels at a resolution in dots per inch, rounded to the nearest.
int twipsToPixels(int twips, double dotsPerInch);

// A line's end points in twips, from the fields where its row keeps them: start (left, top), end (width,
// height).
struct LineEnds {
    Point start;
    Point end;
};
LineEnds lineEnds(const ControlLayout& line);

// Where a control sits: its rectangle within its container (its frame, or the form), and where that
// container's inside begins on the form. Backends whose frames hold no children (Win32 group boxes)
// place the control on the form at the sum of the two.
struct Placement {
    PixelRect rect;
    Point containerOffset;
    PixelRect onForm() const;
};

// The pixel geometry of one form at one resolution.
class FormGeometry {
public:
    FormGeometry(const FormLayout& layout, double dotsPerInchX, double dotsPerInchY);

    int clientWidth() const;
    int clientHeight() const;
    // control: a row of the layout this geometry was made from. A line is a rule two pixels thick from
    // its start to its end point. Throws std::logic_error for a control whose container is not a frame
    // that comes before it in the table.
    Placement place(const ControlLayout& control) const;

private:
    const FormLayout& layout_;
    double dpiX_;
    double dpiY_;
    std::vector<std::optional<Placement>> placements_; // one per row; none where the container is amiss
};

// The controls that take the focus (text boxes, buttons, list boxes) and have a tab index, in the order
// Tab goes through them; equal indexes keep the table's order.
std::vector<const ControlLayout*> tabOrder(const FormLayout& layout);
