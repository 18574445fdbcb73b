#include "platform/TcpTable.h"

// winsock2.h before windows.h, as iphlpapi.h needs.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
// clang-format on

#include <cstring>

static_assert(sizeof(MIB_TCPROW) == sizeof(TcpRow));
static_assert(sizeof(MIB_TCP6ROW) == sizeof(Tcp6Row));

namespace {

class Win32TcpTable final : public TcpTable {
public:
    uint32_t GetTcpTable(uint8_t* buffer, uint32_t* size, bool order) override {
        ULONG bytes = *size;
        const DWORD result = ::GetTcpTable(reinterpret_cast<PMIB_TCPTABLE>(buffer), &bytes, order ? TRUE : FALSE);
        *size = bytes;
        return result;
    }

    uint32_t SetTcpEntry(const TcpRow& row) override {
        MIB_TCPROW native;
        std::memcpy(&native, &row, sizeof native);
        return ::SetTcpEntry(&native);
    }

    uint32_t GetTcp6Table(uint8_t* buffer, uint32_t* size, bool order) override {
        ULONG bytes = *size;
        const ULONG result = ::GetTcp6Table(reinterpret_cast<PMIB_TCP6TABLE>(buffer), &bytes, order ? TRUE : FALSE);
        *size = bytes;
        return result;
    }

    // IP Helper always reads the whole table.
    bool FilterPorts(const std::vector<uint16_t>&) override { return false; }

    // IP Helper has no call that deletes an IPv6 connection.
    uint32_t SetTcp6Entry(const Tcp6Row&) override { return ERROR_NOT_SUPPORTED; }

    // The program's manifest asks for an administrator, who may delete any connection.
    Result DeletionPossible() override { return Result::Done(); }
};

} // namespace

TcpTable& systemTcpTable() {
    static Win32TcpTable instance;
    return instance;
}
