#pragma once

#include "platform/TcpTable.h"

#include <vector>

// The rows of one read of the IPv4 table (through both calls, sorted), for tests and benchmarks that
// look at what the system shows. The table is whole unless ports are given to filter it by.
std::vector<TcpRow> readTcpRows(TcpTable& table, const std::vector<uint16_t>& ports = {});
