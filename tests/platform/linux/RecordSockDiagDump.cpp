// Records the sock_diag dumps that SockDiagTest parses: run as root from the source tree,
//   build/linux/tests/record_sockdiag_dump tests/platform/linux/data
// It makes a network namespace with known sockets (see SockDiagTest.cpp for the list), dumps the TCP
// sockets of each family and of both at once, and writes the bytes the kernel sent, as received.
#include "platform/linux/Loopback.h"
#include "platform/linux/SockDiag.h"

#include <cstdio>
#include <fstream>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <vector>

namespace {

std::vector<uint8_t> rawDump(const std::vector<uint8_t>& request) {
    UniqueFd fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    ::sendto(fd.get(), request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel);
    std::vector<uint8_t> all;
    std::vector<uint8_t> chunk(65536);
    for (;;) {
        const ssize_t n = ::recv(fd.get(), chunk.data(), chunk.size(), 0);
        if (n <= 0) {
            break;
        }
        all.insert(all.end(), chunk.begin(), chunk.begin() + n);
        std::vector<SockDiag::Socket> ignored;
        if (SockDiag::parseDump(chunk.data(), static_cast<size_t>(n), ignored).status != SockDiag::Status::More) {
            break;
        }
    }
    return all;
}

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
    save(dir + "/sockdiag-inet.bin", rawDump(SockDiag::dumpRequest(AF_INET, 1)));
    save(dir + "/sockdiag-inet6.bin", rawDump(SockDiag::dumpRequest(AF_INET6, 2)));
    save(dir + "/sockdiag-both.bin", rawDump(SockDiag::bothFamiliesDumpRequest(3)));
    return 0;
}
