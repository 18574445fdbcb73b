#include "platform/Record.h"

#include <string>
#include <sys/uio.h>
#include <syslog.h>
#include <systemd/sd-journal.h>
#include <vector>

namespace {

// Straight to the journal, whether or not standard error reaches it: the entry's fields and MESSAGE_ID
// would not survive a line on standard error. Outside systemd the call finds no journal and fails.
class LinuxRecord final : public Record {
public:
    void Write(const RecordEntry& entry) override {
        std::vector<std::string> lines{
            "MESSAGE=" + entry.message,
            std::string("MESSAGE_ID=") + RecordKindId(entry.kind),
            "PRIORITY=" + std::to_string(entry.warning ? LOG_WARNING : LOG_INFO),
            "SYSLOG_IDENTIFIER=quietwire",
        };
        for (const auto& [name, value] : entry.fields) {
            lines.push_back(name + "=" + value);
        }
        std::vector<iovec> parts;
        parts.reserve(lines.size());
        for (std::string& line : lines) {
            parts.push_back({line.data(), line.size()});
        }
        sd_journal_sendv(parts.data(), static_cast<int>(parts.size()));
    }
};

} // namespace

Record& systemRecord() {
    static LinuxRecord instance;
    return instance;
}
