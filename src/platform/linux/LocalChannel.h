#pragma once

#include "platform/Result.h"
#include "platform/linux/UniqueFd.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

// The local channel between the enforcer and its clients: a Unix stream socket carrying one message a
// line. Every fd is non-blocking, so that a client that stalls never stalls the enforcer's loop; the loop
// watches readableFd() and calls readLines() or accept() when it is readable.

// Who is at the other end, as the kernel saw it when the connection was made (not what the peer says).
struct PeerCredentials {
    uid_t uid = static_cast<uid_t>(-1);
    gid_t gid = static_cast<gid_t>(-1);
    pid_t pid = 0;
};

// One connection, on either side.
class LocalChannelPeer {
public:
    // A client's connection to the enforcer at path; credentials() are the enforcer's. Lines longer than
    // maxLineBytes (not counting "\n") are refused both ways.
    static ResultWith<std::unique_ptr<LocalChannelPeer>> connectTo(const std::string& path, std::size_t maxLineBytes);

    LocalChannelPeer(UniqueFd fd, PeerCredentials credentials, std::size_t maxLineBytes);

    int readableFd() const { return fd_.get(); }
    const PeerCredentials& credentials() const { return credentials_; }

    // The complete lines that have arrived, without their "\n", from at most 64 KiB read in one call (the
    // rest waits for the next, the fd still readable); a partial line waits for its end. A failure
    // means the peer is done with and the caller drops it: "message too long" when a line outgrows the limit,
    // "closed" (and closed() true) at the end of the stream, any partial line discarded, or the system's
    // error. Lines that arrived before the end are returned first; the next call reports "closed".
    ResultWith<std::vector<std::string>> readLines();
    bool closed() const { return closed_; }

    // Queues line and "\n" and writes what the socket takes now; the rest waits for flush(), which the loop
    // calls when the fd is writable while pending(). A peer that went away fails here (never SIGPIPE), and so
    // does one that stopped reading while its backlog grew past a bound: the caller drops either.
    Result send(std::string_view line);
    Result flush();
    bool pending() const { return !outgoing_.empty(); }

private:
    UniqueFd fd_;
    PeerCredentials credentials_;
    std::size_t maxLineBytes_;
    std::string incoming_;
    std::string outgoing_;
    bool closed_ = false;
};

// The enforcer's end: the listening socket at a path every local user may connect to (0666). The folder
// above it must be one only the enforcer's user can write to, so nobody else can take the name first.
class LocalChannelServer {
public:
    // Binds and listens at path. A live server's name is never taken ("another enforcer listens at PATH");
    // a stale socket of this process's user, left by one that was killed, is replaced; anything else found
    // there (a file, a link, another user's socket) is left as it is and the listen refused.
    static ResultWith<std::unique_ptr<LocalChannelServer>> listen(const std::string& path, std::size_t maxLineBytes);
    ~LocalChannelServer(); // removes the socket file when it is still this server's
    LocalChannelServer(const LocalChannelServer&) = delete;
    LocalChannelServer& operator=(const LocalChannelServer&) = delete;

    int readableFd() const { return fd_.get(); }
    // The next waiting client, with its credentials; fails with EAGAIN as the code when none waits.
    ResultWith<std::unique_ptr<LocalChannelPeer>> accept();

private:
    LocalChannelServer(UniqueFd fd, std::string path, dev_t device, ino_t inode, std::size_t maxLineBytes);

    UniqueFd fd_;
    std::string path_;
    dev_t device_;
    ino_t inode_;
    std::size_t maxLineBytes_;
};
