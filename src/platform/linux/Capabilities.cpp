#include "platform/linux/Capabilities.h"

#include <linux/capability.h>

#include <cstdint>
#include <fstream>
#include <string>

bool mayAdministerNetwork() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("CapEff:", 0) == 0) {
            const uint64_t effective = std::stoull(line.substr(7), nullptr, 16);
            return (effective >> CAP_NET_ADMIN) & 1;
        }
    }
    return false;
}
