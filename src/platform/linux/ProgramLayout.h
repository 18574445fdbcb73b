#pragma once

#include <string>

// Where the build puts the program's files. The build tree's programs keep them beside the executable
// (every text here empty); the programs the Debian package installs keep them where Debian's users
// look for them. The build links one of the two (see cmake/PackageDeb.cmake).
namespace ProgramLayout {

// settings.ini and the service control's store; "" for the executable's folder.
std::string dataDirectory();
// readme.txt; "" for the executable's folder.
std::string documentDirectory();
// The folder of the enforcer's channel: the service's runtime directory; "" for the executable's folder.
std::string runtimeDirectory();
// The systemd unit installed with the program, which registering enables; "" when registering writes one.
std::string shippedUnit();

} // namespace ProgramLayout
