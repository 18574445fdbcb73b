#pragma once

#include <stdexcept>
#include <string>

// An error the program's routines fail with: a number, the source that raised it and a description.
// Thrown where the fault is detected and caught where the behaviour says it stops.
class AppError : public std::runtime_error {
public:
    AppError(int number, std::string source, std::string description);

    int number() const { return number_; }
    const std::string& source() const { return source_; }
    const std::string& description() const { return description_; }

private:
    int number_;
    std::string source_;
    std::string description_;
};

// Error numbers of the language runtime that the program's routines raise.
namespace ErrorNumber {
inline constexpr int Overflow = 6;
inline constexpr int SubscriptOutOfRange = 9;
inline constexpr int TypeMismatch = 13;
inline constexpr int Crypter = 10;
} // namespace ErrorNumber

// The application title: the source of runtime errors and the title of every message box.
inline constexpr const char* AppTitle = "QWADMIN";
