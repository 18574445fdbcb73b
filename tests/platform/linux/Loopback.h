#pragma once

#include "platform/linux/UniqueFd.h"

#include <cstdint>
#include <string>
#include <vector>

// Real TCP connections over the loopback interface of a network namespace the test makes itself.
namespace loopback {

// Moves this process into a new network namespace with its loopback interface up. Returns why it
// could not (it needs root), or an empty text.
std::string enterFreshNetNamespace();

// A listening socket. For AF_INET6, dualStack lets IPv4 clients connect to "::".
UniqueFd listenOn(int family, const char* address, uint16_t port, bool dualStack = false);
// A connected client socket, bound to fromPort when it is not 0.
UniqueFd connectTo(int family, const char* address, uint16_t port, uint16_t fromPort = 0);
UniqueFd acceptOn(int listener);

struct Connection {
    UniqueFd client;
    UniqueFd server;
};
// A client of `family` connected to the listener, and the listener's side of it.
Connection connect(int listener, int family, const char* address, uint16_t port, uint16_t fromPort = 0);

// The error a fresh connect() to the port ends with within two seconds (0: connected; ETIMEDOUT: no
// answer by then).
int connectError(int family, const char* address, uint16_t port);
// The error a UDP datagram to the port ends with: sending it, or waiting a second for an answer
// (0: neither refused nor answered).
int udpError(int family, const char* address, uint16_t port);

// True when the socket reports a reset or an abort within a second.
bool sawReset(int fd);
// A fresh IPv4 connection on port, with a listener of its own, and whether it is reset within two
// seconds: the running program deletes a connection on a closed port at its next tick.
bool killedWithinATick(uint16_t port);
// True when a byte goes each way between the two ends.
bool talks(const Connection& c);

// Closes a connection from the client side first, so the client's end waits in TIME_WAIT.
void closeIntoTimeWait(Connection& c);

uint16_t localPort(int fd);

// The kernel's whole reply to a sock_diag dump request, as received.
std::vector<uint8_t> dumpReply(const std::vector<uint8_t>& request);

} // namespace loopback
