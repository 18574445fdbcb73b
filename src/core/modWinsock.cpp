#include "core/modWinsock.h"

#include "settings/AppError.h"

#include <bit>

static_assert(std::endian::native == std::endian::little, "the TCP table's port fields are read as little-endian");

namespace modWinsock {

int16_t UnsignedToInteger(int64_t value) {
    if (value < 0 || value > 65535) {
        throw AppError(ErrorNumber::Overflow, AppTitle, "Overflow");
    }
    return static_cast<int16_t>(value > 32767 ? value - 65536 : value);
}

int32_t IntegerToUnsigned(int16_t value) {
    return value < 0 ? value + 65536 : value;
}

int16_t NetworkToHostShort(int16_t value) {
    const auto u = static_cast<uint16_t>(value);
    return static_cast<int16_t>(static_cast<uint16_t>((u >> 8) | (u << 8)));
}

} // namespace modWinsock
