#include "platform/linux/SystemZone.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

namespace {

int64_t nanoseconds(const timespec& t) {
    return int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

std::string contentsOf(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

SystemZone::FileState SystemZone::stateOf(const std::string& file) {
    struct stat target {};
    if (::stat(file.c_str(), &target) != 0) {
        return FileState{};
    }
    return FileState{
        true, target.st_dev, target.st_ino, target.st_size, nanoseconds(target.st_mtim), nanoseconds(target.st_ctim)};
}

void SystemZone::tellLibc() const {
    // glibc keeps the zone it has read for as long as TZ reads the same and the file keeps its inode and
    // its modification second; a detour through UTC makes it read the file afresh. A file that is
    // missing or unreadable gives UTC, as it does for every program on the machine.
    ::setenv("TZ", "UTC0", 1);
    ::tzset();
    ::setenv("TZ", tz_.c_str(), 1);
    ::tzset();
}

void SystemZone::load() {
    seen_ = stateOf(file_);
    rules_ = contentsOf(file_);
    tellLibc();
    loaded_ = true;
}

std::tm SystemZone::localTime(std::time_t t) {
    if (!loaded_) {
        load();
    } else if (const char* tz = std::getenv("TZ"); tz == nullptr || tz_ != tz) {
        tellLibc(); // something in the process set TZ since; the zone in use stays the machine's
    }
    std::tm local{};
    localtime_r(&t, &local);
    return local;
}

uint64_t SystemZone::follow() {
    if (!loaded_) {
        load();
        return changes_;
    }
    // One stat a look, at every tick: the file's bytes are read only when what the name leads to changed.
    const FileState now = stateOf(file_);
    if (now == seen_) {
        return changes_;
    }
    seen_ = now;
    std::string rules = contentsOf(file_);
    if (rules == rules_) {
        return changes_;
    }
    rules_ = std::move(rules);
    tellLibc();
    return ++changes_;
}

bool SystemZone::touched() const {
    return !loaded_ || stateOf(file_) != seen_;
}

void SystemZone::useFile(const std::string& file) {
    file_ = file;
    tz_ = ":" + file;
    load();
}

SystemZone& systemZone() {
    static SystemZone instance;
    return instance;
}
