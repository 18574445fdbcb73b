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

    // Only an administrator may delete a connection. The tray program runs with its user's rights, which
    // for an administrator under UAC leave the Administrators group for denying only.
    Result DeletionPossible() override {
        BYTE administrators[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof administrators;
        BOOL member = FALSE;
        if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) ||
            !CheckTokenMembership(nullptr, administrators, &member)) {
            return Result::Failed("the program's rights cannot be read", static_cast<int>(GetLastError()));
        }
        return member
                   ? Result::Done()
                   : Result::Failed("the program runs without an administrator's rights (quietwire.exe asks for them)",
                                    ERROR_ACCESS_DENIED);
    }
};

} // namespace

TcpTable& systemTcpTable() {
    static Win32TcpTable instance;
    return instance;
}
