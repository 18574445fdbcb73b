#pragma once

// The maker's credit, shown by the about boxes.
namespace Credits {
inline constexpr const char* MakerLine = "made by the Quietwire developers";
inline constexpr const char* WebAddress = "https://quietwire.example.org";
// The About box's three lines, broken by CR LF, with none after the last.
inline constexpr const char* AboutLines = "Quietwire, a network curfew for one computer\r\n"
                                          "Closes TCP connections on closed ports outside their daily window\r\n"
                                          "Made by the Quietwire developers";
} // namespace Credits
