#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <utility>

// A form's controls by their layout name and index (-1 for a single control). Control is the backend's
// handle to it; one that tests false (a widget already gone) counts as missing.
template <class Control> class ControlMap {
public:
    void add(const std::string& name, int index, Control control) { controls_[{name, index}] = std::move(control); }

    // Throws std::logic_error for a name the form does not have: a fault of the program, not of the user.
    const Control& at(const std::string& name, int index = -1) const {
        const auto it = controls_.find({name, index});
        if (it == controls_.end() || !it->second) {
            throw std::logic_error("no control " + name + (index >= 0 ? "(" + std::to_string(index) + ")" : ""));
        }
        return it->second;
    }

private:
    std::map<std::pair<std::string, int>, Control> controls_;
};
