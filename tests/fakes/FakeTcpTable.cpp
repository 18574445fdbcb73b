#include "fakes/FakeTcpTable.h"

#include <cstring>

namespace {

template <class Row>
uint32_t fillTable(const std::vector<Row>& rows, uint8_t* buffer, uint32_t* size, std::optional<uint32_t> count) {
    const uint32_t needed = static_cast<uint32_t>(sizeof(uint32_t) + sizeof(Row) * rows.size());
    if (buffer == nullptr || *size < needed) {
        *size = needed;
        return TcpResult::InsufficientBuffer;
    }
    const uint32_t n = count.value_or(static_cast<uint32_t>(rows.size()));
    std::memcpy(buffer, &n, sizeof n);
    if (!rows.empty()) {
        std::memcpy(buffer + sizeof n, rows.data(), sizeof(Row) * rows.size());
    }
    return TcpResult::NoError;
}

} // namespace

uint32_t FakeTcpTable::GetTcpTable(uint8_t* buffer, uint32_t* size, bool) {
    ++getCalls;
    if (buffer == nullptr) {
        const uint32_t result = fillTable(rows, buffer, size, std::nullopt);
        if (reportedSize) {
            *size = *reportedSize;
        }
        return sizeQueryResult.value_or(result);
    }
    if (fillResult) {
        return *fillResult;
    }
    return fillTable(rows, buffer, size, writtenCount);
}

uint32_t FakeTcpTable::SetTcpEntry(const TcpRow& row) {
    deleted.push_back(row);
    return TcpResult::NoError;
}

bool FakeTcpTable::FilterPorts(const std::vector<uint16_t>& ports) {
    filteredPorts = ports;
    return filters && !ports.empty();
}

uint32_t FakeTcpTable::GetTcp6Table(uint8_t* buffer, uint32_t* size, bool) {
    if (buffer != nullptr && fill6Result) {
        return *fill6Result;
    }
    return fillTable(rows6, buffer, size, std::nullopt);
}

uint32_t FakeTcpTable::SetTcp6Entry(const Tcp6Row& row) {
    deleted6.push_back(row);
    return TcpResult::NoError;
}

uint32_t portField(uint16_t port) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(port >> 8), static_cast<uint8_t>(port & 0xff), 0, 0};
    uint32_t field = 0;
    std::memcpy(&field, bytes, sizeof field);
    return field;
}

TcpRow makeRow(uint32_t state, uint16_t localPort, uint16_t remotePort, uint32_t localAddr, uint32_t remoteAddr) {
    return TcpRow{state, localAddr, portField(localPort), remoteAddr, portField(remotePort)};
}

Tcp6Row makeRow6(uint32_t state, uint16_t localPort, uint16_t remotePort) {
    Tcp6Row row{};
    row.State = state;
    row.LocalAddr[15] = 1;
    row.RemoteAddr[15] = 1;
    row.dwLocalPort = portField(localPort);
    row.dwRemotePort = portField(remotePort);
    return row;
}
