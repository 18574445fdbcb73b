#include "platform/linux/SystemdUnit.h"

#include "platform/linux/OomScore.h"

#include <string>
#include <string_view>

namespace {

// Specifiers (%n, %h, ...) are expanded in every setting used here.
std::string withoutSpecifiers(const std::string& text) {
    std::string out;
    for (const char c : text) {
        out += c;
        if (c == '%') {
            out += '%';
        }
    }
    return out;
}

// Blanks are kept by the quotes. (No "$$": only a command's arguments undergo variable expansion.)
std::string quoted(const std::string& path) {
    return "\"" + withoutSpecifiers(path) + "\"";
}

bool acceptedInCommand(const std::string& path) {
    for (const char c : path) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == '"' || c == '\'' || c == '\\') {
            return false;
        }
    }
    return true;
}

std::string oneLine(const std::string& text) {
    std::string out;
    for (const char c : withoutSpecifiers(text)) {
        out += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
    }
    return out;
}

bool underHomes(std::string_view path) {
    return path.starts_with("/home/") || path.starts_with("/root/") || path.starts_with("/run/user/");
}

} // namespace

std::optional<std::string> serviceUnitText(const ServiceUnit& unit) {
    if (!acceptedInCommand(unit.program)) {
        return std::nullopt;
    }
    std::string text;
    const auto line = [&text](const std::string& setting) { text += setting + "\n"; };
    line(unit.shipped ? "# Installed with Quietwire; enabled when it is registered as a service, disabled when it is "
                        "unregistered."
                      : "# Written by Quietwire when it was registered as a service; removed when it is unregistered.");
    line("[Unit]");
    line("Description=" + oneLine(unit.description));
    if (unit.shipped) {
        line("Documentation=man:quietwire(1)"); // the package that installs the unit installs the manual
    }
    // A clock change raises the program's alarm, so it starts once the boot's clock steps are over.
    // time-sync.target is pulled in by the services that wait for network time (systemd-time-wait-sync,
    // chrony-wait), as systemd asks; a service that needs it only orders itself after it.
    line("After=time-set.target time-sync.target");
    line("");
    line("[Service]");
    line("Type=notify");
    line("NotifyAccess=main");
    line("ExecStart=" + quoted(unit.program));
    line("Restart=on-failure");
    // A user who fills memory must not get the kernel to end the curfew first.
    line("OOMScoreAdjust=" + std::to_string(ProgramOomScoreAdjust));
    if (!unit.user.empty()) {
        line("User=" + unit.user);
    }
    // Closing connections needs CAP_NET_ADMIN and a netlink socket; sd_notify and D-Bus a local one.
    line("CapabilityBoundingSet=CAP_NET_ADMIN");
    line("AmbientCapabilities=CAP_NET_ADMIN");
    line("NoNewPrivileges=yes");
    line("RestrictAddressFamilies=AF_NETLINK AF_UNIX");
    line("IPAddressDeny=any");
    line("ProtectSystem=strict");
    line("ReadWritePaths=" + quoted(unit.programFolder));
    // A folder under the homes stays reachable, read-only but for itself.
    line(std::string("ProtectHome=") + (underHomes(unit.programFolder) ? "read-only" : "yes"));
    line("PrivateTmp=yes");
    line("PrivateMounts=yes");
    line("PrivateDevices=yes");
    line("ProtectClock=yes");
    line("ProtectHostname=yes");
    line("ProtectKernelTunables=yes");
    line("ProtectKernelModules=yes");
    line("ProtectKernelLogs=yes");
    line("ProtectControlGroups=yes");
    line("ProtectProc=invisible");
    line("RestrictNamespaces=yes");
    line("RestrictRealtime=yes");
    line("RestrictSUIDSGID=yes");
    line("LockPersonality=yes");
    // No MemoryDenyWriteExecute=: Qt's regular expressions may compile themselves to machine code.
    line("SystemCallArchitectures=native");
    line("SystemCallFilter=@system-service");
    line("SystemCallErrorNumber=EPERM");
    line("UMask=0077");
    // The channel of the desktop sessions' companions: a folder only root may write to, so nobody can take
    // the socket's name first, which every user may reach.
    line("RuntimeDirectory=quietwire");
    line("RuntimeDirectoryMode=0755");
    line("");
    line("[Install]");
    line("WantedBy=multi-user.target");
    return text;
}
