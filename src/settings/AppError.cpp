#include "settings/AppError.h"

#include <utility>

AppError::AppError(int number, std::string source, std::string description)
    : std::runtime_error(source + " error " + std::to_string(number) + ": " + description), number_(number),
      source_(std::move(source)), description_(std::move(description)) {}
