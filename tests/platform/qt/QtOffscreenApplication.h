#pragma once

#include "platform/qt/QtTestApplication.h"

// The offscreen application of the Qt form and windowing tests.
inline const auto* const qtEnvironment = ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment("offscreen"));
