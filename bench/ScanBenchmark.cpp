// How long one scan of the TCP table takes, beside what a user would script instead, on a network
// namespace filled with established loopback connections. Run as root:
//   build/linux/bench/scan_benchmark --benchmark_repetitions=5
// For 1,000, 10,000 and 50,000 connections and 1, 10 and 100 closed-port entries (none matching, so
// nothing is closed) it times:
//   CheckPorts   one full scan through the netlink backend: table read and matching;
//   ss -K        the ss command with the same ports as a kill filter;
//   /proc        reading and matching /proc/net/tcp and /proc/net/tcp6;
// then prints the ratios. Last, it measures how long a connection to a closed port lives with the
// program's 500 ms tick (200 connections opened at random moments).
#include "core/ConnectionScan.h"
#include "fakes/FakeWindowing.h"
#include "platform/Platform.h"
#include "platform/linux/LinuxTcpTable.h"
#include "platform/linux/Loopback.h"
#include "settings/modGlobals.h"
#include "support/Settings.h"
#include "support/TcpTableRows.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using namespace loopback;
using Clock = std::chrono::steady_clock;

// The scan's only uses of the windowing: a message box (never expected here) and DoEvents.
class NoEvents : public FakeWindowing {
public:
    void MsgBox(const std::string& prompt, MsgBoxIcon, const std::string&) override {
        std::fprintf(stderr, "message box: %s\n", prompt.c_str());
    }
};

constexpr uint16_t ServerPort = 20000;

// Established connections held open by child processes, a few thousand each: a process may not
// hold more than 20,000 descriptors here, and the table shows every socket of the namespace.
class Connections {
public:
    explicit Connections(int listener) : listener_(listener) {}
    ~Connections() {
        for (const pid_t child : children_) {
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
        }
    }

    void grow(size_t n) {
        while (held_ < n) {
            const size_t batch = std::min<size_t>(4000, n - held_);
            int ready[2];
            if (::pipe(ready) != 0) {
                std::exit(1);
            }
            const pid_t child = ::fork();
            if (child == 0) {
                ::close(ready[0]);
                std::vector<Connection> held;
                try {
                    for (size_t i = 0; i < batch; ++i) {
                        held.push_back(connect(listener_, AF_INET, "127.0.0.1", ServerPort));
                    }
                } catch (const std::exception& e) {
                    std::fprintf(stderr, "%s\n", e.what());
                    ::_exit(1);
                }
                (void)!::write(ready[1], "x", 1);
                for (;;) {
                    ::pause();
                }
            }
            ::close(ready[1]);
            char byte;
            if (::read(ready[0], &byte, 1) != 1) {
                std::fprintf(stderr, "a connection holder failed\n");
                std::exit(1);
            }
            ::close(ready[0]);
            children_.push_back(child);
            held_ += batch;
        }
    }

    size_t size() const { return held_; }

private:
    int listener_;
    std::vector<pid_t> children_;
    size_t held_ = 0;
};

size_t establishedRows(TcpTable& table) {
    size_t established = 0;
    for (const TcpRow& row : readTcpRows(table)) {
        established += row.dwState == TcpState::Estab;
    }
    return established;
}

std::vector<bool> portsInUse(TcpTable& table) {
    std::vector<bool> used(65536);
    for (const TcpRow& row : readTcpRows(table)) {
        used[static_cast<size_t>(ConnectionScan::GetPortNumber(row.dwLocalPort))] = true;
        used[static_cast<size_t>(ConnectionScan::GetPortNumber(row.dwRemotePort))] = true;
    }
    return used;
}

void writeProc(const char* path, const char* value) {
    std::ofstream(path) << value;
}

void setClosedPorts(const std::vector<int>& ports) {
    std::vector<std::string> entries;
    for (const int port : ports) {
        entries.push_back(std::to_string(port));
    }
    setPorts(entries);
}

// Closed ports 1..count, as closed lists mostly hold well-known ports: no connection here matches.
std::vector<int> lowPorts(int count) {
    std::vector<int> ports;
    for (int i = 1; i <= count; ++i) {
        ports.push_back(i);
    }
    return ports;
}

// count ports spread over the whole range instead, each the nearest one not in use, so that the
// ports of the connections cannot be told apart from them by range alone; still none matches.
std::vector<int> spreadPorts(int count, const std::vector<bool>& used) {
    std::vector<int> ports;
    for (int i = 0; i < count; ++i) {
        int port = 1 + i * (65534 / count);
        while (port < 65535 && used[static_cast<size_t>(port)]) {
            ++port;
        }
        ports.push_back(port);
    }
    return ports;
}

std::string ssFilter(int count) {
    std::string filter = "(";
    for (int i = 1; i <= count; ++i) {
        filter +=
            (i > 1 ? " or " : " ") + std::string("sport = :") + std::to_string(i) + " or dport = :" + std::to_string(i);
    }
    return filter + " )";
}

void runSs(const std::string& filter) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> args = {"ss", "-t", "-n", "-K", "state", "connected", "exclude", "time-wait", filter};
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, "ss", &actions, nullptr, argv.data(), environ) != 0) {
        std::fprintf(stderr, "cannot run ss\n");
        std::exit(1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
}

// What a script reading /proc would do: every line's state and ports, matched against the list.
int scanProc(const std::vector<int>& closed) {
    int matches = 0;
    for (const char* path : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(path);
        std::string line;
        std::getline(in, line);
        while (std::getline(in, line)) {
            unsigned localPort = 0, remotePort = 0, state = 0;
            const size_t l = line.find(':', line.find(':') + 1);
            const size_t r = line.find(':', l + 1);
            if (l == std::string::npos || r == std::string::npos) {
                continue;
            }
            std::sscanf(line.c_str() + l + 1, "%x", &localPort);
            std::sscanf(line.c_str() + r + 1, "%x %x", &remotePort, &state);
            for (int port : closed) {
                matches += (static_cast<int>(localPort) == port || static_cast<int>(remotePort) == port) &&
                           state != 0x0A && state != 0x06;
            }
        }
    }
    return matches;
}

// Keeps the mean time per iteration of each run, to print the ratios at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        // With --benchmark_repetitions the median of the repetitions stands for the benchmark.
        for (const Run& run : runs) {
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (median || (run.run_type == Run::RT_Iteration && millis.count(run.run_name.function_name) == 0)) {
                millis[run.run_name.function_name] = run.GetAdjustedRealTime(); // in the run's unit, ms
            }
        }
    }
    std::map<std::string, double> millis;
};

// One full scan per iteration with the given closed ports; reports the rows the table gave.
void registerScan(const std::string& benchmarkName, const std::vector<int>& ports) {
    benchmark::RegisterBenchmark(benchmarkName.c_str(),
                                 [ports](benchmark::State& state) {
                                     setClosedPorts(ports);
                                     ConnectionScan scan;
                                     for (auto _ : state) {
                                         scan.CheckPorts();
                                     }
                                     state.counters["rows"] = static_cast<double>(scan.TcpRows().size());
                                 })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
}

std::string name(const char* what, size_t connections, int entries) {
    return std::string(what) + "/connections:" + std::to_string(connections) + "/entries:" + std::to_string(entries);
}

void measureLatency(LinuxTcpTable& table) {
    // The enforcement tick: a scan every 500 ms, on this thread, as the program's timer runs it.
    const UniqueFd listener = listenOn(AF_INET, "127.0.0.1", 25);
    setClosedPorts({25});
    platform::ScopedInstall<TcpTable> useTable(table);
    ConnectionScan scan;
    std::atomic<bool> done{false};
    std::vector<double> lives;
    std::thread opener([&] {
        // A new connection every 0..100 ms, so that they meet the tick at every phase; resets are
        // looked for every millisecond.
        std::mt19937 random(7);
        std::uniform_int_distribution<int> pause(0, 100);
        std::vector<std::pair<Connection, Clock::time_point>> open;
        size_t opened = 0;
        auto nextOpen = Clock::now();
        while (lives.size() < 200) {
            if (opened < 200 && Clock::now() >= nextOpen) {
                open.emplace_back(connect(listener.get(), AF_INET, "127.0.0.1", 25), Clock::now());
                ++opened;
                nextOpen = Clock::now() + std::chrono::milliseconds(pause(random));
            }
            for (auto it = open.begin(); it != open.end();) {
                pollfd p{it->first.client.get(), POLLIN, 0};
                if (::poll(&p, 1, 0) > 0 && sawReset(it->first.client.get())) {
                    lives.push_back(std::chrono::duration<double, std::milli>(Clock::now() - it->second).count());
                    it = open.erase(it);
                } else {
                    ++it;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        done = true;
    });
    auto next = Clock::now();
    while (!done) {
        scan.CheckPorts();
        next += std::chrono::milliseconds(500);
        std::this_thread::sleep_until(next);
    }
    opener.join();
    std::sort(lives.begin(), lives.end());
    std::printf("\nLife of a connection to a closed port with the 500 ms tick (%zu connections):\n"
                "  median %.1f ms, worst %.1f ms\n",
                lives.size(), lives[lives.size() / 2], lives.back());
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const std::string why = enterFreshNetNamespace();
    if (!why.empty()) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }
    writeProc("/proc/sys/net/ipv4/ip_local_port_range", "1024 65000");
    writeProc("/proc/sys/net/core/somaxconn", "65535");

    NoEvents windowing;
    platform::ScopedInstall<Windowing> useWindowing(windowing);
    LinuxTcpTable table;
    platform::ScopedInstall<TcpTable> useTable(table);
    const UniqueFd listener = listenOn(AF_INET, "127.0.0.1", ServerPort);
    auto connections = std::make_unique<Connections>(listener.get());

    RatioReporter reporter;
    // QW_BENCH_LARGEST=10000 stops there (building 50,000 connections takes minutes).
    const char* largest = std::getenv("QW_BENCH_LARGEST");
    const size_t limit = largest != nullptr ? std::stoul(largest) : 50000;
    std::vector<size_t> sizes;
    for (const size_t n : {size_t{1000}, size_t{10000}, size_t{50000}}) {
        if (n <= limit) {
            sizes.push_back(n);
        }
    }
    const int entryCounts[] = {1, 10, 100};
    for (const size_t n : sizes) {
        connections->grow(n);
        std::this_thread::sleep_for(std::chrono::seconds(2)); // let the new connections' traffic settle
        benchmark::ClearRegisteredBenchmarks();
        const std::vector<bool> used = portsInUse(table);
        for (const int entries : entryCounts) {
            registerScan(name("CheckPorts", n, entries), lowPorts(entries));
            registerScan(name("CheckPorts spread", n, entries), spreadPorts(entries, used));
            benchmark::RegisterBenchmark(name("ss -K", n, entries).c_str(),
                                         [entries](benchmark::State& state) {
                                             const std::string filter = ssFilter(entries);
                                             for (auto _ : state) {
                                                 runSs(filter);
                                             }
                                         })
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
            benchmark::RegisterBenchmark(name("/proc", n, entries).c_str(),
                                         [entries](benchmark::State& state) {
                                             std::vector<int> closed;
                                             for (int i = 1; i <= entries; ++i) {
                                                 closed.push_back(i);
                                             }
                                             for (auto _ : state) {
                                                 benchmark::DoNotOptimize(scanProc(closed));
                                             }
                                         })
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
        }
        benchmark::RunSpecifiedBenchmarks(&reporter);
        if (establishedRows(table) != 2 * n) {
            std::fprintf(stderr, "a connection was closed during the benchmark\n");
            return 1;
        }
    }

    std::printf("\nOne scan, ms (the median of the repetitions, or the mean per run), and how many times faster\n"
                "CheckPorts is; the last column is CheckPorts with the closed ports spread over the whole range:\n");
    std::printf("%12s %8s %12s %10s %10s %10s %10s %12s\n", "connections", "entries", "CheckPorts", "ss -K", "/proc",
                "ss/scan", "proc/scan", "spread ports");
    for (const size_t n : sizes) {
        for (const int entries : entryCounts) {
            const double scan = reporter.millis[name("CheckPorts", n, entries)];
            const double ss = reporter.millis[name("ss -K", n, entries)];
            const double proc = reporter.millis[name("/proc", n, entries)];
            const double spread = reporter.millis[name("CheckPorts spread", n, entries)];
            std::printf("%12zu %8d %12.3f %10.3f %10.3f %9.1fx %9.1fx %12.3f\n", n, entries, scan, ss, proc, ss / scan,
                        proc / scan, spread);
        }
    }
    connections.reset(); // the tick is timed on a quiet namespace
    measureLatency(table);
    return 0;
}
