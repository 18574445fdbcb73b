#include "platform/linux/LocalChannel.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// How many full-length lines may wait for a client that does not read before it is dropped.
constexpr std::size_t OutgoingLines = 16;

ResultWith<sockaddr_un> addressOf(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(address.sun_path)) {
        return Result::Failed("the channel's path is too long for a socket: " + path, ENAMETOOLONG);
    }
    std::memcpy(address.sun_path, path.data(), path.size());
    return address;
}

ResultWith<UniqueFd> newSocket() {
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        return Result::Errno(errno, "socket");
    }
    return fd;
}

// The address of path and a new socket for it, as both ends start.
struct Endpoint {
    sockaddr_un address;
    UniqueFd fd;
};
ResultWith<Endpoint> endpointFor(const std::string& path) {
    const ResultWith<sockaddr_un> address = addressOf(path);
    if (!address) {
        return address.result();
    }
    ResultWith<UniqueFd> fd = newSocket();
    if (!fd) {
        return fd.result();
    }
    return Endpoint{*address, std::move(*fd)};
}

// A non-blocking connect to a listening Unix socket is done at once; EAGAIN means its backlog is full,
// which still says somebody listens.
Result connectSocket(int fd, const sockaddr_un& address) {
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        return Result::Errno(errno);
    }
    return Result::Done();
}

ResultWith<PeerCredentials> credentialsOf(int fd) {
    ucred cred{};
    socklen_t size = sizeof(cred);
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0) {
        return Result::Errno(errno, "SO_PEERCRED");
    }
    return PeerCredentials{cred.uid, cred.gid, cred.pid};
}

// Whether the name at path may be unlinked so that a new server can bind there: only a socket of this
// user that nobody answers.
Result mayReplace(const std::string& path, const sockaddr_un& address) {
    ResultWith<UniqueFd> probe = newSocket();
    if (!probe) {
        return probe.result();
    }
    const Result answered = connectSocket(probe->get(), address);
    if (answered || answered.code() == EAGAIN) {
        return Result::Failed("another enforcer listens at " + path, EADDRINUSE);
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        return Result::Errno(errno, path);
    }
    if (!S_ISSOCK(st.st_mode)) {
        return Result::Failed(path + " is not a socket; it is left as it is", EADDRINUSE);
    }
    if (st.st_uid != ::geteuid()) {
        return Result::Failed("the socket " + path + " belongs to user " + std::to_string(st.st_uid) +
                                  "; it is left as it is",
                              EADDRINUSE);
    }
    return Result::Done();
}

} // namespace

ResultWith<std::unique_ptr<LocalChannelPeer>> LocalChannelPeer::connectTo(const std::string& path,
                                                                          std::size_t maxLineBytes) {
    ResultWith<Endpoint> end = endpointFor(path);
    if (!end) {
        return end.result();
    }
    const sockaddr_un& address = end->address;
    UniqueFd& fd = end->fd;
    const Result connected = connectSocket(fd.get(), address);
    if (!connected) {
        return Result::Failed("no enforcer answers at " + path + ": " + connected.reason(), connected.code());
    }
    const ResultWith<PeerCredentials> credentials = credentialsOf(fd.get());
    if (!credentials) {
        return credentials.result();
    }
    return std::make_unique<LocalChannelPeer>(std::move(fd), *credentials, maxLineBytes);
}

LocalChannelPeer::LocalChannelPeer(UniqueFd fd, PeerCredentials credentials, std::size_t maxLineBytes)
    : fd_(std::move(fd)), credentials_(credentials), maxLineBytes_(maxLineBytes) {}

ResultWith<std::vector<std::string>> LocalChannelPeer::readLines() {
    if (closed_) {
        return Result::Failed("closed");
    }
    std::vector<std::string> lines;
    char buffer[4096];
    // A peer that writes without pause gets its share and waits for the loop's next round: the enforcer's
    // tick comes in between, and nothing read piles up unhandled.
    constexpr std::size_t MostBytesPerCall = 16 * sizeof(buffer);
    for (std::size_t taken = 0; taken < MostBytesPerCall;) {
        const ssize_t got = ::recv(fd_.get(), buffer, sizeof(buffer), 0);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                break;
            }
            return Result::Errno(errno, "recv");
        }
        if (got == 0) {
            closed_ = true;
            incoming_.clear();
            break;
        }
        taken += static_cast<std::size_t>(got);
        incoming_.append(buffer, static_cast<std::size_t>(got));
        std::size_t start = 0;
        for (std::size_t end; (end = incoming_.find('\n', start)) != std::string::npos; start = end + 1) {
            if (end - start > maxLineBytes_) {
                return Result::Failed("message too long");
            }
            lines.emplace_back(incoming_, start, end - start);
        }
        incoming_.erase(0, start);
        if (incoming_.size() > maxLineBytes_) {
            return Result::Failed("message too long");
        }
    }
    if (closed_ && lines.empty()) {
        return Result::Failed("closed");
    }
    return lines;
}

Result LocalChannelPeer::send(std::string_view line) {
    if (line.size() > maxLineBytes_ || line.find('\n') != std::string_view::npos) {
        return Result::Failed("message too long or not one line");
    }
    if (outgoing_.size() + line.size() + 1 > OutgoingLines * (maxLineBytes_ + 1)) {
        return Result::Failed("the peer does not read what it is sent");
    }
    outgoing_.append(line);
    outgoing_.push_back('\n');
    return flush();
}

Result LocalChannelPeer::flush() {
    while (!outgoing_.empty()) {
        const ssize_t sent = ::send(fd_.get(), outgoing_.data(), outgoing_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                break;
            }
            return Result::Errno(errno, "send");
        }
        outgoing_.erase(0, static_cast<std::size_t>(sent));
    }
    return Result::Done();
}

ResultWith<std::unique_ptr<LocalChannelServer>> LocalChannelServer::listen(const std::string& path,
                                                                           std::size_t maxLineBytes) {
    ResultWith<Endpoint> end = endpointFor(path);
    if (!end) {
        return end.result();
    }
    const sockaddr_un& address = end->address;
    UniqueFd& fd = end->fd;
    const auto bindTo = [&] { return ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)); };
    if (bindTo() != 0) {
        if (errno != EADDRINUSE) {
            return Result::Errno(errno, "bind " + path);
        }
        const Result replace = mayReplace(path, address);
        if (!replace) {
            return replace;
        }
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            return Result::Errno(errno, "unlink " + path);
        }
        if (bindTo() != 0) {
            return Result::Errno(errno, "bind " + path);
        }
    }
    // The file takes its mode from the umask at bind; widened after, so that every local user may connect.
    struct stat st {};
    if (::chmod(path.c_str(), 0666) != 0 || ::lstat(path.c_str(), &st) != 0) {
        const int error = errno;
        ::unlink(path.c_str());
        return Result::Errno(error, path);
    }
    if (::listen(fd.get(), SOMAXCONN) != 0) {
        const int error = errno;
        ::unlink(path.c_str());
        return Result::Errno(error, "listen " + path);
    }
    return std::unique_ptr<LocalChannelServer>(
        new LocalChannelServer(std::move(fd), path, st.st_dev, st.st_ino, maxLineBytes));
}

LocalChannelServer::LocalChannelServer(UniqueFd fd, std::string path, dev_t device, ino_t inode,
                                       std::size_t maxLineBytes)
    : fd_(std::move(fd)), path_(std::move(path)), device_(device), inode_(inode), maxLineBytes_(maxLineBytes) {}

LocalChannelServer::~LocalChannelServer() {
    // Another server may have replaced the name since (after taking this one for stale): leave its socket.
    struct stat st {};
    if (::lstat(path_.c_str(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_) {
        ::unlink(path_.c_str());
    }
}

ResultWith<std::unique_ptr<LocalChannelPeer>> LocalChannelServer::accept() {
    UniqueFd fd;
    do {
        fd.reset(::accept4(fd_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    } while (!fd.valid() && errno == EINTR);
    if (!fd.valid()) {
        return Result::Errno(errno, "accept");
    }
    const ResultWith<PeerCredentials> credentials = credentialsOf(fd.get());
    if (!credentials) {
        return credentials.result();
    }
    return std::make_unique<LocalChannelPeer>(std::move(fd), *credentials, maxLineBytes_);
}
