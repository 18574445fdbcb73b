#pragma once

#include <string>
#include <vector>

// quietwirectl: the program's administration from a command line, for a machine with no display (a
// server, a service, a remote shell). The same settings.ini and the same rules as the administration
// dialog; every change is saved at once, and a running copy takes it over at its next tick.
namespace Quietwirectl {

inline constexpr int Success = 0;
inline constexpr int Failure = 1; // refused or failed: the reason is on standard error
inline constexpr int Usage = 2;   // a command line it cannot read

// Runs one command line (the arguments after the tool's name); returns the exit status.
int Run(const std::vector<std::string>& arguments);

} // namespace Quietwirectl
