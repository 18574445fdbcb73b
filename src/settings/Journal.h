#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What the enforcing copy records of what it does (platform/Record.h): the words and fields of each
// entry. Only a copy that enforces (or quietwirectl working on settings.ini with no enforcer) turns it
// on; elsewhere, and without a record installed, nothing is written. Never a password, never the file.
namespace Journal {

void Enable(bool on);

// One connection the sweep closed. Addresses as text (Journal::Ipv4, Journal::Ipv6).
struct Connection {
    std::string local;
    int32_t localPort = 0;
    std::string remote;
    int32_t remotePort = 0;
    uint32_t state = 0; // the TCP table's code
    std::string owner;  // who held it, where the system said ("uid 1000, process 4242 (curl)")
};
std::string Ipv4(uint32_t networkOrder);
std::string Ipv6(const uint8_t (&address)[16]);

// One entry for a tick's sweep, whatever it closed: the count, and at most MostListed connections.
inline constexpr std::size_t MostListed = 16;
void Closed(const std::vector<Connection>& closed);

void BlockInForce(const std::vector<uint16_t>& ports);
void BlockLifted();

// cause: which change of the clock; user: whose companion reported it, where one did.
void AlarmRaised(const std::string& cause, const std::string& user = {});

// Where a change came from: the administration dialog (the enforcing copy's, or a companion's through the
// channel), quietwirectl (on the file, or through the channel), another program writing settings.ini, or
// a client of the channel that did not say what it is. Through the channel, its user is named too.
inline constexpr const char* Dialog = "administration dialog";
inline constexpr const char* Quietwirectl = "quietwirectl";
inline constexpr const char* SettingsFile = "another program writing settings.ini";
inline constexpr const char* Channel = "control channel";

// The settings in memory are those the record knows: later changes are told against them.
void SettingsKnown();
// One entry for each setting that differs from those last known (the alarm's reset as AlarmCleared),
// then knows the settings in memory. Before any SettingsKnown, only learns them.
void SettingsChanged(const std::string& source, const std::string& user = {});

void WrongPassword(const std::string& source, const std::string& user = {});

void Started(uint32_t process);
void Ended();

// A step of the tick that failed, said once; and once when it works again.
void StepFailing(const std::string& step, const std::string& error);
void StepRecovered(const std::string& step);

} // namespace Journal
