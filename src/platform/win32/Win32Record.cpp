#include "platform/Record.h"
#include "platform/win32/EventSource.h"
#include "platform/win32/WideText.h"

#include <windows.h>

#include <string>

namespace {

// The Application log under the source "Quietwire", which the installer registers with this program as its
// message file: the event id picks the kind's text (resources/record.mc), the line and the fields fill it.
class Win32Record final : public Record {
public:
    void Write(const RecordEntry& entry) override {
        const HANDLE source = quietwireEventSource();
        if (source == nullptr) {
            return; // no event log service
        }
        std::string fields;
        for (const auto& [name, value] : entry.fields) {
            fields += name + "=" + value + "\r\n";
        }
        const std::wstring message = wideText(entry.message, CP_UTF8);
        const std::wstring details = wideText(fields, CP_UTF8);
        const wchar_t* strings[] = {message.c_str(), details.c_str()};
        const DWORD id = static_cast<DWORD>(entry.kind) + 1;
        ReportEventW(source, entry.warning ? EVENTLOG_WARNING_TYPE : EVENTLOG_INFORMATION_TYPE, 0, id, nullptr, 2, 0,
                     strings, nullptr);
    }
};

} // namespace

Record& systemRecord() {
    static Win32Record instance;
    return instance;
}
