#include "platform/AdminFormsConformance.h"
#include "platform/FormConformance.h"
#include "platform/qt/QtDriver.h"
#include "platform/qt/QtOffscreenApplication.h"

// The Qt backend's forms, and the program's password prompt and administration dialog on it, offscreen.
INSTANTIATE_TYPED_TEST_SUITE_P(Qt, FormConformance, QtDriver);
INSTANTIATE_TYPED_TEST_SUITE_P(Qt, AdminFormsConformance, QtDriver);
