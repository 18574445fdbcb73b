#include "platform/linux/LinuxControlChannel.h"

#include "platform/FileSystem.h"
#include "platform/linux/ProgramLayout.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Longer than any message the program sends (service/ControlMessages keeps to 16 KiB).
constexpr std::size_t MaxLineBytes = 16 * 1024;
constexpr const char* ChannelName = "control.sock";
// Far below the enforcer's limit of open files, so that nobody can keep it from opening what it needs; and
// one user's share, so that nobody can keep the others out.
constexpr std::size_t MostPeers = 256;
constexpr std::size_t MostPeersOfOneUser = 32;

std::string userName(uid_t uid) {
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(uid, &entry, buffer, sizeof(buffer), &found) == 0 && found != nullptr) {
        return found->pw_name;
    }
    // One desktop user may hold thousands of uids with no account (a rootless container's range): they share
    // one account's limits and one account's penalty.
    return "(a user with no account)";
}

// The installed program's runtime directory, which every local user must be able to reach (a service's is
// made so by its unit): one made here, or left 0700 by an earlier copy's instance lock, is opened for
// reaching, never for writing. The folder of a program in a build tree is its administrator's to set.
void reachable(const std::string& folder) {
    if (folder.empty() || folder != ProgramLayout::runtimeDirectory()) {
        return;
    }
    struct stat st {};
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
        return; // Listen says why
    }
    if (::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
        (st.st_mode & 0777) != 0755 && (st.st_mode & 0022) == 0) {
        ::chmod(folder.c_str(), 0755); // the umask's trim undone; never a folder others may write to
    }
}

} // namespace

std::string controlChannelPath() {
    const std::string folder = ProgramLayout::runtimeDirectory();
    return (folder.empty() ? systemFileSystem().executableDirectory() : folder) + "/" + ChannelName;
}

// ---- the enforcer's end ----

LinuxControlServer::LinuxControlServer(WatchReadable watch, RunLater later, std::string path)
    : watch_(std::move(watch)), later_(std::move(later)), path_(std::move(path)) {}

LinuxControlServer::~LinuxControlServer() {
    Close();
}

Result LinuxControlServer::Listen(Handlers handlers) {
    reachable(path_.substr(0, path_.find_last_of('/')));
    ResultWith<std::unique_ptr<LocalChannelServer>> server = LocalChannelServer::listen(path_, MaxLineBytes);
    if (!server) {
        return server.result();
    }
    handlers_ = std::move(handlers);
    server_ = std::move(*server);
    listening_ = watch_(server_->readableFd(), [this] { acceptWaiting(); });
    return Result::Done();
}

void LinuxControlServer::Close() {
    peers_.clear();
    listening_.reset();
    server_.reset();
    *alive_ = false;
    alive_ = std::make_shared<bool>(true);
}

void LinuxControlServer::acceptWaiting() {
    while (server_) {
        ResultWith<std::unique_ptr<LocalChannelPeer>> accepted = server_->accept();
        if (!accepted) {
            return; // none waits, or one that gave up before it was taken
        }
        const uid_t uid = (*accepted)->credentials().uid;
        std::string user = userName(uid);
        const auto sameUser = [&user](const auto& peer) { return peer.second.user == user; };
        if (peers_.size() >= MostPeers ||
            static_cast<std::size_t>(std::count_if(peers_.begin(), peers_.end(), sameUser)) >= MostPeersOfOneUser) {
            continue; // closed unanswered
        }
        const PeerId id = next_++;
        Connection& connection = peers_[id];
        connection.user = std::move(user);
        connection.channel = std::move(*accepted);
        connection.watch = watch_(connection.channel->readableFd(), [this, id] { readFrom(id); });
    }
}

void LinuxControlServer::readFrom(PeerId peer) {
    const auto found = peers_.find(peer);
    if (found == peers_.end()) {
        return;
    }
    if (found->second.dropping) {
        return;
    }
    const ResultWith<std::vector<std::string>> lines = found->second.channel->readLines();
    if (!lines) {
        drop(peer);
        return;
    }
    const std::shared_ptr<bool> alive = alive_;
    for (const std::string& line : *lines) {
        handlers_.line(peer, line);
        const auto still = peers_.find(peer);
        if (!*alive || still == peers_.end() || still->second.dropping) {
            return; // closed, or dropped while the line was handled: what it sent after is not heard
        }
    }
}

void LinuxControlServer::drop(PeerId peer) {
    if (peers_.erase(peer) != 0 && handlers_.closed) {
        handlers_.closed(peer);
    }
}

std::string LinuxControlServer::PeerUser(PeerId peer) const {
    const auto found = peers_.find(peer);
    return found == peers_.end() ? std::string() : found->second.user;
}

void LinuxControlServer::Send(PeerId peer, std::string_view line) {
    const auto found = peers_.find(peer);
    if (found == peers_.end()) {
        return;
    }
    if (found->second.dropping) {
        return;
    }
    if (!found->second.channel->send(line)) {
        // Said from the loop: the caller may be walking the peers.
        found->second.dropping = true;
        Later(0, [this, peer] { drop(peer); });
        return;
    }
    if (found->second.channel->pending()) {
        flushLater();
    }
}

// What a slow reader's socket did not take is tried again shortly; one that never reads is dropped by the
// bound on its backlog.
void LinuxControlServer::flushLater() {
    if (flushing_) {
        return;
    }
    flushing_ = true;
    constexpr int RetryMs = 20;
    Later(RetryMs, [this] {
        flushing_ = false;
        std::vector<PeerId> failed;
        bool more = false;
        for (auto& [id, connection] : peers_) {
            if (!connection.channel->flush()) {
                failed.push_back(id);
            } else {
                more = more || connection.channel->pending();
            }
        }
        for (const PeerId id : failed) {
            drop(id);
        }
        if (more) {
            flushLater();
        }
    });
}

void LinuxControlServer::Later(int milliseconds, std::function<void()> run) {
    later_(milliseconds, [alive = std::weak_ptr<bool>(alive_), run = std::move(run)] {
        if (const std::shared_ptr<bool> still = alive.lock(); still && *still) {
            run();
        }
    });
}

// ---- a client's end ----

LinuxControlClient::LinuxControlClient(WatchReadable watch, std::string path)
    : watch_(std::move(watch)), path_(std::move(path)) {}

Result LinuxControlClient::Connect(std::function<void()> arrived) {
    Disconnect();
    ResultWith<std::unique_ptr<LocalChannelPeer>> channel = LocalChannelPeer::connectTo(path_, MaxLineBytes);
    if (!channel) {
        return channel.result();
    }
    // Only root (or this user's own copy) can have made the name in a folder only root may write to; a
    // socket found anywhere else gets no password.
    const uid_t server = (*channel)->credentials().uid;
    if (server != 0 && server != ::geteuid()) {
        return Result::Failed("the channel at " + path_ + " is served by user " + std::to_string(server) +
                                  ", not by the enforcer",
                              EACCES);
    }
    channel_ = std::move(*channel);
    arrived_ = std::move(arrived);
    if (arrived_) {
        watching_ = watch_(channel_->readableFd(), [this] {
            if (fill() && waiting_.empty()) {
                return;
            }
            arrived_(); // lines, or the end: Receive says which
        });
    }
    return Result::Done();
}

void LinuxControlClient::Disconnect() {
    watching_.reset();
    channel_.reset();
    waiting_.clear();
}

Result LinuxControlClient::Send(std::string_view line) {
    if (!channel_) {
        return Result::Failed("not connected", ENOTCONN);
    }
    if (const Result sent = channel_->send(line); !sent) {
        return sent;
    }
    // A client sends little and waits for the answer: what the socket did not take at once is pushed now.
    while (channel_->pending()) {
        pollfd fd{channel_->readableFd(), POLLOUT, 0};
        if (::poll(&fd, 1, 1000) <= 0) {
            return Result::Failed("the enforcer does not read", ETIMEDOUT);
        }
        if (const Result flushed = channel_->flush(); !flushed) {
            return flushed;
        }
    }
    return Result::Done();
}

// Reads what has arrived into waiting_; a failure when the enforcer went away (lines before it are kept).
Result LinuxControlClient::fill() {
    if (!channel_) {
        return Result::Failed("not connected", ENOTCONN);
    }
    ResultWith<std::vector<std::string>> lines = channel_->readLines();
    if (!lines) {
        return lines.result();
    }
    waiting_.insert(waiting_.end(), lines->begin(), lines->end());
    return Result::Done();
}

ResultWith<std::vector<std::string>> LinuxControlClient::Receive(int waitMs) {
    Result read = fill();
    if (read && waiting_.empty() && waitMs > 0) {
        pollfd fd{channel_->readableFd(), POLLIN, 0};
        if (::poll(&fd, 1, waitMs) > 0) {
            read = fill();
        }
    }
    std::vector<std::string> lines = std::move(waiting_);
    waiting_.clear();
    if (!read) {
        if (!lines.empty()) {
            return lines; // the next call says the enforcer went away
        }
        Disconnect();
        return read;
    }
    return lines;
}

ControlClient& programControlClient() {
    static LinuxControlClient instance([](int, std::function<void()>) { return std::unique_ptr<ReadableWatch>(); },
                                       controlChannelPath());
    return instance;
}
