#pragma once

#include "platform/Clock.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <sys/types.h>

// The machine's time zone, as its zone file (/etc/localtime) gives it. TZ in the environment is never
// used: it belongs to whoever started the program (su without a dash hands the caller's TZ on to a
// root copy), while the zone file belongs to the machine. glibc keeps one zone per process, so there
// is one of these, used from the user-interface thread only.
class SystemZone {
public:
    static constexpr const char* MachineZoneFile = "/etc/localtime";

    // The local time at t in the zone in use (the zone file as it was at the first use or at the last
    // follow()).
    std::tm localTime(std::time_t t);

    // Looks at the zone file again and takes a changed zone into use. Returns how many times the zone
    // has changed since the program started: a file with other rules is a change; a file replaced by
    // the same rules, or a daylight-saving transition within the rules, is none.
    uint64_t follow();

    // Whether the zone file looks touched since the zone in use was taken (one stat); the zone in use
    // stays as it is until follow().
    bool touched() const;

    // Takes the zone of another file into use from now on (a test's own zone files).
    void useFile(const std::string& file);

private:
    // What the name leads to (through any links, or a mount over it): another file, or the same file
    // written, looks different here.
    struct FileState {
        bool present = false;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        int64_t modified = 0;
        int64_t changed = 0;
        bool operator==(const FileState&) const = default;
    };

    static FileState stateOf(const std::string& file);
    void load();
    void tellLibc() const;

    std::string file_ = MachineZoneFile;
    std::string tz_ = std::string(":") + MachineZoneFile;
    bool loaded_ = false;
    FileState seen_;
    std::string rules_; // the zone file's bytes in use
    uint64_t changes_ = 0;
};

SystemZone& systemZone();

// The wall time at now in zone, with the day of the week and, in the second pass over an hour the clock went
// back over, where that hour ends.
WallTime wallTimeIn(SystemZone& zone, std::time_t now);
