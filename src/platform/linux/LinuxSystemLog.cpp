#include "platform/SystemLog.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <syslog.h>
#include <systemd/sd-journal.h>

namespace {

// systemd hands a service's standard error to the journal and names that stream in JOURNAL_STREAM
// ("device:inode"), so that a program can tell its lines are kept already.
bool standardErrorReachesJournal() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    struct stat error {};
    if (stream == nullptr || fstat(2, &error) != 0) {
        return false;
    }
    unsigned long long device = 0;
    unsigned long long inode = 0;
    return std::sscanf(stream, "%llu:%llu", &device, &inode) == 2 && device == error.st_dev && inode == error.st_ino;
}

class LinuxSystemLog final : public SystemLog {
public:
    void Warning(const std::string& line) override {
        if (!standardErrorReachesJournal()) {
            // Without a journal (no systemd) the call fails and the line stays on standard error alone.
            sd_journal_send("MESSAGE=%s", line.c_str(), "PRIORITY=%i", LOG_WARNING, "SYSLOG_IDENTIFIER=quietwire",
                            nullptr);
        }
    }
};

} // namespace

SystemLog& systemSystemLog() {
    static LinuxSystemLog instance;
    return instance;
}
