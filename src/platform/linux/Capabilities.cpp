#include "platform/linux/Capabilities.h"

#include "platform/linux/UniqueFd.h"

#include <linux/capability.h>

#include <cstdint>
#include <fcntl.h>
#include <fstream>
#include <linux/nsfs.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>

namespace {

// A capability reaches the network namespace when the user namespace that owns it is this process's own or
// one below it: root of a user namespace of its own (unshare -r, which any user may do) holds CAP_NET_ADMIN
// over nothing of the machine's network.
bool capabilitiesReachNetwork() {
    struct stat own {};
    if (::stat("/proc/self/ns/user", &own) != 0) {
        return true; // no namespaces to tell apart
    }
    const UniqueFd network(::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC));
    if (!network.valid()) {
        return true;
    }
    UniqueFd owner(::ioctl(network.get(), NS_GET_USERNS));
    while (owner.valid()) {
        struct stat st {};
        if (::fstat(owner.get(), &st) != 0) {
            return false;
        }
        if (st.st_dev == own.st_dev && st.st_ino == own.st_ino) {
            return true;
        }
        owner.reset(::ioctl(owner.get(), NS_GET_PARENT)); // fails above this process's own namespace
    }
    return false;
}

} // namespace

bool mayAdministerNetwork() {
    if (!capabilitiesReachNetwork()) {
        return false;
    }
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
