#include "platform/linux/InetDiagFilter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <random>
#include <set>

// The filter programs run as the kernel runs them (net/ipv4/inet_diag.c): first the audit that a
// request's program must pass, or the whole dump is refused; then the walk that decides for each
// socket whether the dump reports it. Both know only the ops a port filter needs.
namespace {

using Program = std::vector<uint8_t>;

inet_diag_bc_op opAt(const Program& program, size_t offset) {
    inet_diag_bc_op op{};
    if (offset + sizeof op <= program.size()) {
        std::memcpy(&op, program.data() + offset, sizeof op);
    }
    return op;
}

bool comparesPort(uint8_t code) {
    switch (code) {
    case INET_DIAG_BC_S_EQ:
    case INET_DIAG_BC_S_GE:
    case INET_DIAG_BC_S_LE:
    case INET_DIAG_BC_D_EQ:
    case INET_DIAG_BC_D_GE:
    case INET_DIAG_BC_D_LE:
        return true;
    default:
        return false;
    }
}

// valid_cc: whether the op `target` bytes before the end lies on the walk along the `yes` offsets.
bool onTheYesWalk(const Program& program, int target) {
    int left = static_cast<int>(program.size());
    size_t offset = 0;
    while (left >= 0) {
        if (target > left) {
            return false;
        }
        if (target == left) {
            return true;
        }
        const inet_diag_bc_op op = opAt(program, offset);
        if (op.yes < 4 || (op.yes & 3) != 0) {
            return false;
        }
        left -= op.yes;
        offset += op.yes;
    }
    return false;
}

// inet_diag_bc_audit, with the attribute's 16-bit length.
bool kernelTakes(const Program& program) {
    if (program.size() < sizeof(inet_diag_bc_op) || program.size() + NLA_HDRLEN > 0xffff) {
        return false;
    }
    int left = static_cast<int>(program.size());
    size_t offset = 0;
    while (left > 0) {
        const inet_diag_bc_op op = opAt(program, offset);
        int minimum = sizeof op;
        if (comparesPort(op.code)) {
            minimum += sizeof op; // the port is in the op that follows
            if (left < minimum) {
                return false;
            }
        } else if (op.code != INET_DIAG_BC_JMP && op.code != INET_DIAG_BC_NOP) {
            return false;
        }
        if (op.code != INET_DIAG_BC_NOP) {
            if (op.no < minimum || op.no > left + 4 || (op.no & 3) != 0) {
                return false;
            }
            if (op.no < left && !onTheYesWalk(program, left - op.no)) {
                return false;
            }
        }
        if (op.yes < minimum || op.yes > left + 4 || (op.yes & 3) != 0) {
            return false;
        }
        offset += op.yes;
        left -= op.yes;
    }
    return left == 0;
}

// inet_diag_bc_run for a socket with these ports (host order); only for a program the audit took.
bool kernelReports(const Program& program, uint16_t sport, uint16_t dport) {
    int left = static_cast<int>(program.size());
    size_t offset = 0;
    while (left > 0) {
        const inet_diag_bc_op op = opAt(program, offset);
        const uint16_t port = opAt(program, offset + sizeof op).no;
        bool yes = true;
        switch (op.code) {
        case INET_DIAG_BC_JMP:
            yes = false;
            break;
        case INET_DIAG_BC_S_EQ:
            yes = sport == port;
            break;
        case INET_DIAG_BC_S_GE:
            yes = sport >= port;
            break;
        case INET_DIAG_BC_S_LE:
            yes = sport <= port;
            break;
        case INET_DIAG_BC_D_EQ:
            yes = dport == port;
            break;
        case INET_DIAG_BC_D_GE:
            yes = dport >= port;
            break;
        case INET_DIAG_BC_D_LE:
            yes = dport <= port;
            break;
        }
        const int step = yes ? op.yes : op.no;
        offset += static_cast<size_t>(step);
        left -= step;
    }
    return left == 0;
}

// Checks the program of `ports` against plain matching: every port of the list, its neighbours, the
// ends of the port range and a few others, as the source port, the destination port and both.
void expectMatchesPlainly(const std::vector<uint16_t>& ports, std::mt19937& random) {
    const Program program = InetDiagFilter::anyPortOf(ports);
    ASSERT_TRUE(kernelTakes(program)) << ports.size() << " ports";
    const std::set<uint16_t> closed(ports.begin(), ports.end());
    std::set<uint16_t> probes = {0, 1, 65534, 65535};
    for (const uint16_t p : closed) {
        probes.insert({static_cast<uint16_t>(p - 1), p, static_cast<uint16_t>(p + 1)});
    }
    for (int i = 0; i < 16; ++i) {
        probes.insert(static_cast<uint16_t>(random()));
    }
    uint16_t open = 0;
    while (closed.count(open) != 0) {
        ++open;
    }
    for (const uint16_t p : probes) {
        const bool onList = closed.count(p) != 0;
        ASSERT_EQ(kernelReports(program, p, open), onList) << "source port " << p;
        ASSERT_EQ(kernelReports(program, open, p), onList) << "destination port " << p;
        ASSERT_EQ(kernelReports(program, p, p), onList) << "both ports " << p;
        ASSERT_TRUE(kernelReports(program, p, *closed.begin()));
        ASSERT_TRUE(kernelReports(program, *closed.rbegin(), p));
    }
}

std::vector<uint16_t> randomPorts(size_t n, std::mt19937& random, uint16_t from = 0, uint16_t to = 65535) {
    std::uniform_int_distribution<int> port(from, to);
    std::vector<uint16_t> ports;
    for (size_t i = 0; i < n; ++i) {
        ports.push_back(static_cast<uint16_t>(port(random)));
    }
    return ports;
}

std::vector<uint16_t> firstPorts(size_t n) {
    std::vector<uint16_t> ports;
    for (size_t i = 0; i < n; ++i) {
        ports.push_back(static_cast<uint16_t>(i * 7 + 1));
    }
    return ports;
}

} // namespace

TEST(InetDiagFilter, TheKernelReportsExactlyTheSocketsOnTheListedPorts) {
    std::mt19937 random(20240607);
    const std::vector<std::vector<uint16_t>> edges = {
        {0}, {65535}, {0, 65535}, {25}, {25, 25, 25}, {3, 2, 1}, {1, 2, 3, 4}, {80, 443, 8080, 21, 22},
    };
    for (const std::vector<uint16_t>& ports : edges) {
        expectMatchesPlainly(ports, random);
    }
    for (size_t n = 1; n <= 40; ++n) {
        expectMatchesPlainly(randomPorts(n, random), random);
        expectMatchesPlainly(randomPorts(n, random, 1, 1024), random); // dense: neighbours are often listed
    }
    for (const size_t n : {100, 500, 1000}) {
        expectMatchesPlainly(randomPorts(n, random), random);
    }
}

TEST(InetDiagFilter, NoPortsOrTooManyGiveNoProgramAndTheLargestProgramStillWorks) {
    EXPECT_TRUE(InetDiagFilter::anyPortOf({}).empty());
    std::vector<uint16_t> every(65536);
    for (size_t p = 0; p < every.size(); ++p) {
        every[p] = static_cast<uint16_t>(p);
    }
    EXPECT_TRUE(InetDiagFilter::anyPortOf(every).empty());

    size_t fits = 1; // the most ports a program is made for
    while (!InetDiagFilter::anyPortOf(firstPorts(fits * 2)).empty()) {
        fits *= 2;
    }
    size_t tooMany = fits * 2;
    while (tooMany - fits > 1) {
        const size_t n = (fits + tooMany) / 2;
        if (InetDiagFilter::anyPortOf(firstPorts(n)).empty()) {
            tooMany = n;
        } else {
            fits = n;
        }
    }
    EXPECT_GE(fits, 1000u) << "a long list of closed ports is still filtered by the kernel";
    std::mt19937 random(7);
    expectMatchesPlainly(firstPorts(fits), random);
}
