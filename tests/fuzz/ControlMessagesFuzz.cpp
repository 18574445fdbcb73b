// libFuzzer target: the control channel's reader on any bytes as a line. Besides crashes and sanitizer
// reports it checks that nothing throws, that a refusal gives its reason, that whatever is read encodes to
// one line reading back the same, and that encode takes any bytes as text.
#include "service/ControlMessages.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using namespace ControlMessages;

void expect(bool holds) {
    if (!holds) {
        std::abort();
    }
}

bool oneLine(const std::string& line) {
    return !line.empty() && line.find('\n') == line.size() - 1 && line.size() - 1 <= MaxMessageBytes;
}

template <class Message, class Parse> void readsBack(const ResultWith<Message>& read, Parse parse) {
    if (!read) {
        expect(!read.reason().empty());
        return;
    }
    const std::string line = encode(*read);
    expect(oneLine(line));
    const ResultWith<Message> again = parse(line);
    expect(again && *again == *read);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    readsBack(parseRequest(line), parseRequest);
    readsBack(parseEnforcerMessage(line), parseEnforcerMessage);

    if (size <= MaxMessageBytes / 32) { // four copies, a byte growing to six ("\u0001"), and the frame
        const std::string bytes(line);
        const std::string sent = encode(ChangeSettings{bytes, {.password = bytes, .ports = {bytes, bytes}}});
        expect(oneLine(sent) && parseRequest(sent));
    }
    return 0;
}
