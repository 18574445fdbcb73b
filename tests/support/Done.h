#pragma once

#include "platform/Result.h"

#include <gtest/gtest.h>

// Passes when the operation was done; a failure shows its reason.
inline ::testing::AssertionResult done(const Result& result) {
    return result ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << result.reason();
}
