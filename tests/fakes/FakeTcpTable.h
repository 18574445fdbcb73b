#pragma once

#include "platform/TcpTable.h"

#include <cstdint>
#include <optional>
#include <vector>

// A TCP table filled row by row, with the table calls' answers open to scripting.
class FakeTcpTable : public TcpTable {
public:
    std::vector<TcpRow> rows;
    std::vector<Tcp6Row> rows6;

    // Scripted answers: the size query's result, the size it reports, the fill call's result, and
    // the row count written into the buffer (to describe tables that do not fit their buffer).
    std::optional<uint32_t> sizeQueryResult;
    std::optional<uint32_t> reportedSize;
    std::optional<uint32_t> fillResult;
    std::optional<uint32_t> writtenCount;
    std::optional<uint32_t> fill6Result;

    bool filters = false; // whether FilterPorts leaves rows out
    std::vector<uint16_t> filteredPorts;
    std::vector<TcpRow> deleted;   // every row handed to SetTcpEntry
    std::vector<Tcp6Row> deleted6; // every row handed to SetTcp6Entry
    int getCalls = 0;
    std::string unavailable; // why deletions cannot work; empty when they can

    uint32_t GetTcpTable(uint8_t* buffer, uint32_t* size, bool order) override;
    uint32_t SetTcpEntry(const TcpRow& row) override;
    bool FilterPorts(const std::vector<uint16_t>& ports) override;
    uint32_t GetTcp6Table(uint8_t* buffer, uint32_t* size, bool order) override;
    uint32_t SetTcp6Entry(const Tcp6Row& row) override;
    Result DeletionPossible() override { return unavailable.empty() ? Result::Done() : Result::Failed(unavailable); }
};

// A row in the platform's layout: ports in network byte order in the field's first two bytes.
TcpRow makeRow(uint32_t state, uint16_t localPort, uint16_t remotePort, uint32_t localAddr = 0x0100007f,
               uint32_t remoteAddr = 0x0100007f);
Tcp6Row makeRow6(uint32_t state, uint16_t localPort, uint16_t remotePort);
uint32_t portField(uint16_t port);
