#include "support/TcpTableRows.h"

#include <cstring>
#include <stdexcept>

std::vector<TcpRow> readTcpRows(TcpTable& table, const std::vector<uint16_t>& ports) {
    table.FilterPorts(ports);
    uint32_t size = 0;
    if (table.GetTcpTable(nullptr, &size, false) != TcpResult::InsufficientBuffer) {
        throw std::runtime_error("the table's size query failed");
    }
    std::vector<uint8_t> buffer(size + sizeof(TcpRow) * 64); // room for connections opened meanwhile
    size = static_cast<uint32_t>(buffer.size());
    if (table.GetTcpTable(buffer.data(), &size, true) != TcpResult::NoError) {
        throw std::runtime_error("the table could not be read");
    }
    uint32_t n = 0;
    std::memcpy(&n, buffer.data(), sizeof n);
    std::vector<TcpRow> rows(n);
    std::memcpy(rows.data(), buffer.data() + sizeof n, sizeof(TcpRow) * n);
    return rows;
}
