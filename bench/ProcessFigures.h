#pragma once

#include <array>
#include <initializer_list>
#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

// What the benchmarks read of a running process and of the machine, from /proc and the shell.

// Ends a benchmark with one line on standard error, "program: why".
[[noreturn]] void quitBenchmark(const char* program, const std::string& why);
// Reads the command line: "--name N" pairs (N a positive whole number) into the counts named, and the
// flags named; any other word ends the program with its usage line.
void readOptions(int argc, char** argv, const char* program, const char* usage,
                 std::initializer_list<std::pair<const char*, int*>> counts,
                 std::initializer_list<std::pair<const char*, bool*>> flags = {});

// The command's standard output, trailing newlines removed.
std::string commandOutput(const char* command);

struct CpuTime {
    double ticked = 0;  // utime + stime as /proc/<pid>/stat counts them, in clock ticks turned to seconds
    double precise = 0; // the scheduler's own sum of run time of every thread
};
CpuTime cpuTimeOf(pid_t pid);

// VmRSS of /proc/<pid>/status in kB, -1 when the process is gone.
long residentKb(pid_t pid);
// What each open descriptor of the process refers to ("socket:[123]", a path), in the order of
// /proc/<pid>/fd; empty when the process is gone.
std::vector<std::string> descriptorTargets(pid_t pid);

// Busy and total jiffies of all CPUs, for how loaded the machine was meanwhile.
std::pair<double, double> machineJiffies();

// The socket reports the connection aborted or reset (not merely ended by its peer).
bool wasReset(int fd);

// The value at the fraction (0..1) of ascending values; 0 for none.
double percentile(const std::vector<double>& sorted, double fraction);

// The report: one row a figure, printed as a table with the columns as wide as their widest cell.
class Table {
public:
    void row(const std::string& what, const std::string& value, const std::string& goal = "",
             std::optional<bool> met = std::nullopt);
    void print() const;

private:
    std::vector<std::array<std::string, 4>> rows_;
};
