#pragma once

#include <cstdint>

// The sockets library's start-up and release (Windows Sockets). Where there is nothing to start, both
// succeed.
class Sockets {
public:
    virtual ~Sockets() = default;
    // WSAStartup for the version word (0x0101: 1.1): 0, or the library's error number.
    virtual int32_t WSAStartup(uint16_t version) = 0;
    virtual int32_t WSACleanup() = 0;
};

Sockets& systemSockets();
