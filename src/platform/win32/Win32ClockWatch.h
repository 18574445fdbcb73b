#pragma once

#include "platform/ClockWatch.h"

#include <memory>
#include <windows.h>
// windows.h makes CallWindowProc a macro for CallWindowProcA, which would rename the interface's method.
#undef CallWindowProc

// The Win32 clock watch hears WM_TIMECHANGE and every change of the system's time zone. A standard
// user may change the zone; the system announces a change of the system time with WM_TIMECHANGE, while
// a program that changes the zone is only asked to tell others with WM_SETTINGCHANGE. So the watch
// compares the zone's rules when a setting changes and on a timer of its own, and reports a change of
// them as WM_TIMECHANGE. A daylight-saving transition leaves the rules as they are.

// How the watch reads the system's time zone: GetDynamicTimeZoneInformation, or a test's own.
using ReadTimeZone = DWORD(WINAPI*)(PDYNAMIC_TIME_ZONE_INFORMATION);

// How often the zone is compared without a message, in milliseconds.
inline constexpr UINT ZoneLookInterval = 500;

// A watch of its own that reads the zone with readZone; systemClockWatch() reads the system's.
std::unique_ptr<ClockWatch> makeClockWatch(ReadTimeZone readZone);
