#pragma once

#include "tray/Picture.h"

#include <map>
#include <string>
#include <variant>

// The saved name-value store of a hosted component's properties. Keys match without regard to case
// and are held in lower case.
class PropertyBag {
public:
    using Value = std::variant<bool, std::string, PictureRef>;

    void write(const std::string& key, const Value& value) { values_[lower(key)] = value; }

    // The stored value of the type of fallback, or fallback when there is none of that type.
    template <class T> T read(const std::string& key, const T& fallback) const {
        const auto it = values_.find(lower(key));
        if (it == values_.end()) {
            return fallback;
        }
        const T* value = std::get_if<T>(&it->second);
        return value != nullptr ? *value : fallback;
    }

    bool has(const std::string& key) const { return values_.count(lower(key)) != 0; }
    const std::map<std::string, Value>& values() const { return values_; }

private:
    static std::string lower(std::string key) {
        for (char& c : key) {
            if (c >= 'A' && c <= 'Z') {
                c = static_cast<char>(c - 'A' + 'a');
            }
        }
        return key;
    }

    std::map<std::string, Value> values_;
};
