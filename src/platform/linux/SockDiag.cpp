#include "platform/linux/SockDiag.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace SockDiag {
namespace {

// The kernel's TCP states (include/net/tcp_states.h), which user space headers do not all carry.
enum KernelTcpState : uint8_t {
    Established = 1,
    SynSent,
    SynRecv,
    FinWait1,
    FinWait2,
    TimeWait,
    Close,
    CloseWait,
    LastAck,
    Listen,
    Closing,
    NewSynRecv,
};

struct Request {
    nlmsghdr header;
    inet_diag_req_v2 body;
};

std::vector<uint8_t> bytesOf(const Request& request) {
    const auto* p = reinterpret_cast<const uint8_t*>(&request);
    return std::vector<uint8_t>(p, p + sizeof request);
}

Request makeRequest(uint16_t type, uint16_t flags, uint8_t family, uint32_t sequence) {
    Request r{};
    r.header.nlmsg_len = sizeof r;
    r.header.nlmsg_type = type;
    r.header.nlmsg_flags = flags;
    r.header.nlmsg_seq = sequence;
    r.body.sdiag_family = family;
    r.body.sdiag_protocol = IPPROTO_TCP;
    return r;
}

// The states of the TCP table: every state from ESTABLISHED to NEW_SYN_RECV (request sockets), TIME_WAIT
// and LISTEN included. Not the kernel's BOUND_INACTIVE (bit 13): a socket that is only bound is no
// connection, and asking for them makes the kernel walk its whole bind hash on every dump.
constexpr uint32_t EveryConnectionState = ((1u << (NewSynRecv + 1)) - 1) & ~1u;

// Appends a filter program to a dump request as its INET_DIAG_REQ_BYTECODE attribute.
std::vector<uint8_t> withFilter(std::vector<uint8_t> request, const std::vector<uint8_t>& filter) {
    if (filter.empty()) {
        return request;
    }
    request.resize(NLMSG_ALIGN(request.size()));
    nlattr attribute{static_cast<uint16_t>(NLA_HDRLEN + filter.size()), INET_DIAG_REQ_BYTECODE};
    const auto* a = reinterpret_cast<const uint8_t*>(&attribute);
    request.insert(request.end(), a, a + sizeof attribute);
    request.insert(request.end(), filter.begin(), filter.end());
    request.resize(NLMSG_ALIGN(request.size()));
    const auto length = static_cast<uint32_t>(request.size());
    std::memcpy(request.data() + offsetof(nlmsghdr, nlmsg_len), &length, sizeof length);
    return request;
}

constexpr uint8_t MappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};

bool isMapped(const uint8_t* a) {
    return std::memcmp(a, MappedPrefix, 12) == 0;
}
bool isUnspecified(const uint8_t* a) {
    static constexpr uint8_t zero[16] = {};
    return std::memcmp(a, zero, 16) == 0;
}

void portField(uint32_t& field, uint16_t networkPort) {
    field = 0;
    std::memcpy(&field, &networkPort, sizeof networkPort);
}

// Walks the messages in bytes; visit returns false to stop.
template <class Visit> bool forEachMessage(const uint8_t* bytes, size_t length, Visit visit) {
    size_t offset = 0;
    while (length - offset >= sizeof(nlmsghdr)) {
        nlmsghdr header;
        std::memcpy(&header, bytes + offset, sizeof header);
        if (header.nlmsg_len < sizeof header || header.nlmsg_len > length - offset) {
            return false;
        }
        if (!visit(header, bytes + offset + NLMSG_HDRLEN,
                   header.nlmsg_len - std::min<size_t>(header.nlmsg_len, NLMSG_HDRLEN))) {
            return true;
        }
        offset += std::min<size_t>(NLMSG_ALIGN(header.nlmsg_len), length - offset);
    }
    return offset == length;
}

// The errno that an error message or the end of a dump carries, 0 for none (an acknowledgement, a
// dump that ended well); -1 when the payload holds no number, or one that is no errno.
int errnoOf(const uint8_t* payload, size_t length) {
    int32_t number = 0;
    if (length < sizeof number) {
        return -1;
    }
    std::memcpy(&number, payload, sizeof number);
    constexpr int32_t LastErrno = 4095;
    return number <= 0 && number >= -LastErrno ? -number : -1;
}

Parsed failure(int error) {
    return {Status::Failed, error > 0 ? error : EBADMSG};
}

} // namespace

std::vector<uint8_t> dumpRequest(uint8_t family, uint32_t sequence, const std::vector<uint8_t>& filter) {
    Request r = makeRequest(SOCK_DIAG_BY_FAMILY, NLM_F_REQUEST | NLM_F_DUMP, family, sequence);
    r.body.idiag_states = EveryConnectionState;
    return withFilter(bytesOf(r), filter);
}

std::vector<uint8_t> bothFamiliesDumpRequest(uint32_t sequence, const std::vector<uint8_t>& filter) {
    struct {
        nlmsghdr header;
        inet_diag_req body;
    } r{};
    r.header.nlmsg_len = sizeof r;
    r.header.nlmsg_type = TCPDIAG_GETSOCK;
    r.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    r.header.nlmsg_seq = sequence;
    r.body.idiag_family = AF_INET;
    r.body.idiag_states = EveryConnectionState;
    const auto* p = reinterpret_cast<const uint8_t*>(&r);
    return withFilter(std::vector<uint8_t>(p, p + sizeof r), filter);
}

std::vector<uint8_t> destroyRequest(const Socket& socket, uint32_t sequence) {
    Request r = makeRequest(SOCK_DESTROY, NLM_F_REQUEST | NLM_F_ACK, socket.family, sequence);
    r.body.idiag_states = EveryConnectionState;
    r.body.id.idiag_sport = socket.sport;
    r.body.id.idiag_dport = socket.dport;
    std::memcpy(r.body.id.idiag_src, socket.src, sizeof r.body.id.idiag_src);
    std::memcpy(r.body.id.idiag_dst, socket.dst, sizeof r.body.id.idiag_dst);
    r.body.id.idiag_if = socket.ifindex;
    r.body.id.idiag_cookie[0] = socket.cookie[0];
    r.body.id.idiag_cookie[1] = socket.cookie[1];
    return bytesOf(r);
}

Parsed parseDump(const uint8_t* bytes, size_t length, std::vector<Socket>& out) {
    Parsed result;
    const bool whole = forEachMessage(bytes, length, [&](const nlmsghdr& header, const uint8_t* payload, size_t size) {
        if (header.nlmsg_type == NLMSG_DONE) {
            // A dump the kernel could not finish ends with the error in its closing message.
            const int error = size < sizeof(int32_t) ? 0 : errnoOf(payload, size);
            result = error == 0 ? Parsed{Status::Done, 0} : failure(error);
            return false;
        }
        if (header.nlmsg_type == NLMSG_ERROR) {
            result = failure(errnoOf(payload, size));
            return false;
        }
        const bool socketMessage = header.nlmsg_type == SOCK_DIAG_BY_FAMILY || header.nlmsg_type == TCPDIAG_GETSOCK;
        if (!socketMessage || size < sizeof(inet_diag_msg)) {
            return true;
        }
        inet_diag_msg message;
        std::memcpy(&message, payload, sizeof message);
        Socket s;
        s.family = message.idiag_family;
        s.state = message.idiag_state;
        std::memcpy(s.src, message.id.idiag_src, sizeof s.src);
        std::memcpy(s.dst, message.id.idiag_dst, sizeof s.dst);
        s.sport = message.id.idiag_sport;
        s.dport = message.id.idiag_dport;
        s.ifindex = message.id.idiag_if;
        s.cookie[0] = message.id.idiag_cookie[0];
        s.cookie[1] = message.id.idiag_cookie[1];
        s.uid = message.idiag_uid;
        s.inode = message.idiag_inode;
        out.push_back(s);
        return true;
    });
    if (!whole && result.status == Status::More) {
        result = failure(EBADMSG);
    }
    return result;
}

int parseAck(const uint8_t* bytes, size_t length) {
    int found = -1;
    forEachMessage(bytes, length, [&](const nlmsghdr& header, const uint8_t* payload, size_t size) {
        if (header.nlmsg_type == NLMSG_ERROR) {
            found = errnoOf(payload, size);
            return false;
        }
        return true;
    });
    return found;
}

uint32_t windowsState(uint8_t linuxState) {
    switch (linuxState) {
    case Established:
        return TcpState::Estab;
    case SynSent:
        return TcpState::SynSent;
    case SynRecv:
        return TcpState::SynRcvd;
    case FinWait1:
        return TcpState::FinWait1;
    case FinWait2:
        return TcpState::FinWait2;
    case TimeWait:
        return TcpState::TimeWait;
    case Close:
        return TcpState::Closed;
    case CloseWait:
        return TcpState::CloseWait;
    case LastAck:
        return TcpState::LastAck;
    case Listen:
        return TcpState::Listen;
    case Closing:
        return TcpState::Closing;
    case NewSynRecv:
        return TcpState::SynRcvd;
    default:
        return TcpState::Closed;
    }
}

bool toTcpRow(const Socket& socket, TcpRow& row) {
    const uint8_t* src = socket.src;
    const uint8_t* dst = socket.dst;
    if (socket.family == AF_INET6) {
        const bool mapped = (isMapped(src) || isUnspecified(src)) && (isMapped(dst) || isUnspecified(dst)) &&
                            (isMapped(src) || isMapped(dst));
        if (!mapped) {
            return false;
        }
        src += 12;
        dst += 12;
    } else if (socket.family != AF_INET) {
        return false;
    }
    row.dwState = windowsState(socket.state);
    std::memcpy(&row.dwLocalAddr, src, 4);
    std::memcpy(&row.dwRemoteAddr, dst, 4);
    portField(row.dwLocalPort, socket.sport);
    portField(row.dwRemotePort, socket.dport);
    return true;
}

bool toTcp6Row(const Socket& socket, Tcp6Row& row) {
    TcpRow ignored;
    if (socket.family != AF_INET6 || toTcpRow(socket, ignored)) {
        return false;
    }
    row.State = windowsState(socket.state);
    std::memcpy(row.LocalAddr, socket.src, 16);
    std::memcpy(row.RemoteAddr, socket.dst, 16);
    row.dwLocalScopeId = socket.ifindex;
    row.dwRemoteScopeId = socket.ifindex;
    portField(row.dwLocalPort, socket.sport);
    portField(row.dwRemotePort, socket.dport);
    return true;
}

} // namespace SockDiag
