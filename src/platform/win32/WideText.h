#pragma once

#include <windows.h>

#include <string>

// The text in the given code page as UTF-16; empty where it cannot be converted.
inline std::wstring wideText(const std::string& text, UINT codePage) {
    if (text.empty()) {
        return {};
    }
    const int length = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) {
        return {};
    }
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}
