#pragma once

#include <cstdint>

// The 16-bit conversions around the sockets library's byte swap, as the port numbers of the TCP
// table are read.
namespace modWinsock {

// 0..32767 unchanged, 32768..65535 as value - 65536; anything else fails with error 6 (overflow).
int16_t UnsignedToInteger(int64_t value);
// A negative value plus 65536; others unchanged.
int32_t IntegerToUnsigned(int16_t value);
// ntohs: network to host byte order (both targets are little-endian).
int16_t NetworkToHostShort(int16_t value);

} // namespace modWinsock
