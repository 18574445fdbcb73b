#pragma once

#include <cstdint>
#include <vector>

// Filter programs in the kernel's inet_diag bytecode, which a dump request carries so that the kernel
// reports only the sockets the program accepts.
namespace InetDiagFilter {

// A program that accepts exactly the sockets whose source or destination port is one of ports (in
// any order, repeats allowed). Empty (no filter) for no ports, or for more than fit a program.
std::vector<uint8_t> anyPortOf(std::vector<uint16_t> ports);

} // namespace InetDiagFilter
