#include "platform/SystemLog.h"
#include "platform/win32/EventSource.h"

#include <windows.h>

#include <string>

namespace {

// The Application log, under the program's own source name; Event Viewer shows the line as the
// event's text.
class Win32SystemLog final : public SystemLog {
public:
    void Warning(const std::string& line) override {
        const HANDLE source = quietwireEventSource();
        if (source == nullptr) {
            return; // no event log service: the line stays on standard error alone
        }
        const char* strings[] = {line.c_str()};
        ReportEventA(source, EVENTLOG_WARNING_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
    }
};

} // namespace

HANDLE quietwireEventSource() {
    static HANDLE source = nullptr;
    if (source == nullptr) { // tried again at the next entry: the event log service may start later
        source = RegisterEventSourceW(nullptr, L"Quietwire");
    }
    return source;
}

SystemLog& systemSystemLog() {
    static Win32SystemLog instance;
    return instance;
}
