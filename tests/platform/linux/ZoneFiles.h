#pragma once

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <string>

// A zone file of the test's own, changed as root changes /etc/localtime: zones of the machine's zoneinfo
// copied in, or a zone compiled with zic.
class ZoneFiles {
public:
    std::string path() const { return dir_.file("localtime"); }

    // Moves a new file with the named zone (Etc/GMT-3) over the zone file, as a package manager would.
    void replaceWith(const std::string& zone) const;
    // Writes the named zone over the zone file's bytes in place: same inode, same second.
    void rewriteWith(const std::string& zone) const;
    // Puts in place a zone at UTC whose daylight-saving time (one hour) starts at `at`; empty, or why zic
    // could not make it.
    std::string replaceWithDaylightFrom(std::time_t at) const;

private:
    TempDir dir_;
};

// The local time of day at t in a zone `hours` east of UTC, in seconds since midnight.
int32_t secondsOfDayAt(std::time_t t, int hours);
// Whether the system clock tells the time of day `hours` east of UTC.
::testing::AssertionResult clockIsAt(int hours);
