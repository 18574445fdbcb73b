#include "platform/Sockets.h"

#include <winsock2.h>

namespace {

class Win32Sockets final : public Sockets {
public:
    int32_t WSAStartup(uint16_t version) override {
        WSADATA data; // the description the library fills in is not used
        return ::WSAStartup(version, &data);
    }
    int32_t WSACleanup() override { return ::WSACleanup(); }
};

} // namespace

Sockets& systemSockets() {
    static Win32Sockets instance;
    return instance;
}
