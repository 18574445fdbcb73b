#pragma once

#include "settings/VtkModule.h"
#include "tray/Picture.h"

#include <algorithm>
#include <string>
#include <utility>
#include <variant>
#include <vector>

// The saved name-value store of a hosted component's properties. Keys match without regard to case
// and are held in lower case, in the order they were first written.
class PropertyBag {
public:
    using Value = std::variant<bool, std::string, PictureRef>;
    using Entries = std::vector<std::pair<std::string, Value>>;

    void write(const std::string& key, const Value& value) {
        const auto it = find(key);
        if (it != values_.end()) {
            it->second = value;
        } else {
            values_.emplace_back(VtkModule::LCase(key), value);
        }
    }

    // The stored value of the type of fallback, or fallback when there is none of that type.
    template <class T> T read(const std::string& key, const T& fallback) const {
        const auto it = find(key);
        if (it == values_.end()) {
            return fallback;
        }
        const T* value = std::get_if<T>(&it->second);
        return value != nullptr ? *value : fallback;
    }

    bool has(const std::string& key) const { return find(key) != values_.end(); }
    const Entries& values() const { return values_; }

private:
    Entries::const_iterator find(const std::string& key) const {
        return std::find_if(values_.begin(), values_.end(),
                            [k = VtkModule::LCase(key)](const auto& kv) { return kv.first == k; });
    }
    Entries::iterator find(const std::string& key) {
        return std::find_if(values_.begin(), values_.end(),
                            [k = VtkModule::LCase(key)](const auto& kv) { return kv.first == k; });
    }

    Entries values_;
};
