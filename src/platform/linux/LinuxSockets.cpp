#include "platform/Sockets.h"

namespace {

// Linux sockets need no start-up.
class LinuxSockets final : public Sockets {
public:
    int32_t WSAStartup(uint16_t) override { return 0; }
    int32_t WSACleanup() override { return 0; }
};

} // namespace

Sockets& systemSockets() {
    static LinuxSockets instance;
    return instance;
}
