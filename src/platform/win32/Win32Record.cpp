#include "platform/Record.h"

#include <windows.h>

#include <string>

namespace {

std::wstring wide(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), length);
    return result;
}

// The Application log under the source "Quietwire", which the installer registers with this program as its
// message file: the event id picks the kind's text (resources/record.mc), the line and the fields fill it.
class Win32Record final : public Record {
public:
    ~Win32Record() override {
        if (source_ != nullptr) {
            DeregisterEventSource(source_);
        }
    }
    void Write(const RecordEntry& entry) override {
        if (source_ == nullptr) {
            source_ = RegisterEventSourceW(nullptr, L"Quietwire");
        }
        if (source_ == nullptr) {
            return; // no event log service
        }
        std::string fields;
        for (const auto& [name, value] : entry.fields) {
            fields += name + "=" + value + "\r\n";
        }
        const std::wstring message = wide(entry.message);
        const std::wstring details = wide(fields);
        const wchar_t* strings[] = {message.c_str(), details.c_str()};
        const DWORD id = static_cast<DWORD>(entry.kind) + 1;
        ReportEventW(source_, entry.warning ? EVENTLOG_WARNING_TYPE : EVENTLOG_INFORMATION_TYPE, 0, id, nullptr, 2, 0,
                     strings, nullptr);
    }

private:
    HANDLE source_ = nullptr;
};

} // namespace

Record& systemRecord() {
    static Win32Record instance;
    return instance;
}
