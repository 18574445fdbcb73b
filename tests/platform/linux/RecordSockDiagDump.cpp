// Records the sock_diag dumps that SockDiagTest parses: run as root from the source tree,
//   build/linux/tests/record_sockdiag_dump tests/platform/linux/data
// It makes a network namespace with known sockets (see SockDiagTest.cpp for the list), dumps the TCP
// sockets of each family and of both at once, and writes the bytes the kernel sent, as received.
#include "platform/linux/Loopback.h"
#include "platform/linux/SockDiag.h"

#include <cstdio>
#include <fstream>
#include <netinet/in.h>
#include <vector>

namespace {

void save(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output directory>\n", argv[0]);
        return 2;
    }
    const std::string why = loopback::enterFreshNetNamespace();
    if (!why.empty()) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }
    using namespace loopback;
    const UniqueFd listener4 = listenOn(AF_INET, "127.0.0.1", 2525);
    const Connection established = connect(listener4.get(), AF_INET, "127.0.0.1", 2525, 40000);
    Connection finished = connect(listener4.get(), AF_INET, "127.0.0.1", 2525, 40003);
    closeIntoTimeWait(finished);
    const UniqueFd listener6 = listenOn(AF_INET6, "::", 2526, true);
    const Connection mapped = connect(listener6.get(), AF_INET, "127.0.0.1", 2526, 40001);
    const Connection ipv6 = connect(listener6.get(), AF_INET6, "::1", 2526, 40002);

    const std::string dir = argv[1];
    save(dir + "/sockdiag-inet.bin", dumpReply(SockDiag::dumpRequest(AF_INET, 1)));
    save(dir + "/sockdiag-inet6.bin", dumpReply(SockDiag::dumpRequest(AF_INET6, 2)));
    save(dir + "/sockdiag-both.bin", dumpReply(SockDiag::bothFamiliesDumpRequest(3)));
    return 0;
}
