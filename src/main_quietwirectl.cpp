// quietwirectl (quietwirectl.exe): the administration tool; the build links its system's backends.
#include "admin/Quietwirectl.h"
#include "platform/Clock.h"
#include "platform/ControlChannel.h"
#include "platform/FileSystem.h"
#include "platform/GuessLock.h"
#include "platform/PacketFilter.h"
#include "platform/Platform.h"
#include "platform/ProfileFile.h"
#include "platform/ProgramProcesses.h"
#include "platform/Record.h"
#include "platform/ServiceControl.h"
#include "platform/TcpTable.h"
#include "platform/Terminal.h"

int main(int argc, char** argv) {
    using platform::ScopedInstall;
    const ScopedInstall<FileSystem> files(systemFileSystem());
    const ScopedInstall<ProfileFile> profile(systemProfileFile());
    const ScopedInstall<Clock> clock(systemClock());
    const ScopedInstall<TcpTable> table(systemTcpTable());
    const ScopedInstall<PacketFilter> filter(systemPacketFilter());
    const ScopedInstall<ServiceControl> service(programServiceControl());
    const ScopedInstall<ProgramProcesses> processes(systemProgramProcesses());
    const ScopedInstall<Terminal> terminal(systemTerminal());
    const ScopedInstall<GuessLock> guesses(systemGuessLock());
    const ScopedInstall<Record> record(systemRecord());
    const ScopedInstall<ControlClient> channel(programControlClient());
    return Quietwirectl::Run({argv + 1, argv + argc});
}
