// Prints the program's directory as the settings routines find it. The tests run a copy of it from
// a root directory, where the directory must keep exactly one separator.
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "settings/VtkModule.h"

#include <cstdio>

int main() {
    platform::ScopedInstall<FileSystem> useFiles(systemFileSystem());
    std::fputs(VtkModule::AppPath().c_str(), stdout);
    return 0;
}
