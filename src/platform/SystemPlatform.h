#pragma once

#include "platform/Clock.h"
#include "platform/ClockWatch.h"
#include "platform/ControlChannel.h"
#include "platform/FileSystem.h"
#include "platform/GuessLock.h"
#include "platform/PacketFilter.h"
#include "platform/Platform.h"
#include "platform/ProfileFile.h"
#include "platform/ProgramIcons.h"
#include "platform/ProgramInfo.h"
#include "platform/Record.h"
#include "platform/ServiceControl.h"
#include "platform/Sockets.h"
#include "platform/SystemLog.h"
#include "platform/TcpTable.h"
#include "platform/TrayShell.h"
#include "platform/Windowing.h"

// The operating system's implementation of every platform interface, installed for as long as it
// lives: what a program of the build runs on. The windowing is made by the caller (on Linux after the
// QApplication, which decides how it is shown).
class SystemPlatform {
public:
    explicit SystemPlatform(Windowing& windowing) : windowing_(windowing) {}

private:
    template <class Interface> using Use = platform::ScopedInstall<Interface>;
    Use<Windowing> windowing_;
    Use<FileSystem> files_{systemFileSystem()};
    Use<ProfileFile> profile_{systemProfileFile()};
    Use<Clock> clock_{systemClock()};
    Use<TcpTable> table_{systemTcpTable()};
    Use<PacketFilter> filter_{systemPacketFilter()};
    Use<TrayShell> shell_{systemTrayShell()};
    Use<ClockWatch> clockWatch_{systemClockWatch()};
    Use<ServiceControl> service_{systemServiceControl()};
    Use<Sockets> sockets_{systemSockets()};
    Use<ProgramIcons> icons_{systemProgramIcons()};
    Use<ProgramInfo> info_{systemProgramInfo()};
    Use<GuessLock> guesses_{systemGuessLock()};
    Use<SystemLog> log_{systemSystemLog()};
    Use<Record> record_{systemRecord()};
    Use<ControlServer> channelServer_{systemControlServer()};
    Use<ControlClient> channelClient_{systemControlClient()};
};
