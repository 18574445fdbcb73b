#pragma once

// The maker's credit, shown by the about boxes.
namespace Credits {
inline constexpr const char* MakerLine = "made by the Quietwire developers";
inline constexpr const char* WebAddress = "https://quietwire.example.org";
} // namespace Credits
