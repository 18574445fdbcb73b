#include "platform/SystemLog.h"

#include <windows.h>

#include <string>

namespace {

// The Application log, under the program's own source name; Event Viewer shows the line as the
// event's text.
class Win32SystemLog final : public SystemLog {
public:
    ~Win32SystemLog() override {
        if (source_ != nullptr) {
            DeregisterEventSource(source_);
        }
    }
    void Warning(const std::string& line) override {
        if (source_ == nullptr) {
            source_ = RegisterEventSourceA(nullptr, "Quietwire");
        }
        if (source_ == nullptr) {
            return; // no event log service: the line stays on standard error alone
        }
        const char* strings[] = {line.c_str()};
        ReportEventA(source_, EVENTLOG_WARNING_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
    }

private:
    HANDLE source_ = nullptr;
};

} // namespace

SystemLog& systemSystemLog() {
    static Win32SystemLog instance;
    return instance;
}
