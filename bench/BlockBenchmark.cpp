// The built Linux program with its in-line block chosen and not, side by side in one run, in a network
// namespace of its own, headless, outside its open window. Run as root:
//   build/linux/bench/block_benchmark [--seconds 5] [--tries 2000] [--samples 10]
// 1. Short requests: a server on a closed port answers each request after T ms (1, 50, 200); a client
//    connects, asks, waits for the answer and closes, again and again for --seconds a case.
// 2. How long a connect() the block refuses takes, over --tries.
// 3. The program's CPU while the requests of 1. run, block off against block on.
// 4. From a boundary of the window to the rules changing, seen by a connect() every millisecond:
//    --samples windows of two seconds, each opening and closing. The program's tick keeps its phase
//    against the wall clock's seconds, where the window's bounds fall, so it is started again before
//    each window: one sample a phase.
// Goals are reported beside the figures; the exit status is not 0 only when the benchmark could not run.
#include "ProcessFigures.h"
#include "platform/linux/Loopback.h"
#include "program/ProgramFolder.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Wall = std::chrono::system_clock;

constexpr uint16_t ClosedPort = 2525;
constexpr uint16_t NothingListens = 2626; // not closed either
const std::vector<int> AnswerDelays = {1, 50, 200};
constexpr auto Tick = 500ms;
constexpr double RefusalGoalMs = 1;   // "at once": a reset, not a retry or a timeout
constexpr double CpuGoalShare = 0.01; // of one CPU, with the block on
constexpr double BoundaryGoalMs = 505;

struct Options {
    int seconds = 5;
    int tries = 2000;
    int samples = 10;
};

[[noreturn]] void quit(const std::string& why) {
    quitBenchmark("block_benchmark", why);
}

Options parse(int argc, char** argv) {
    Options options;
    readOptions(argc, argv, "block_benchmark", "[--seconds N] [--tries N] [--samples N]",
                {{"--seconds", &options.seconds}, {"--tries", &options.tries}, {"--samples", &options.samples}});
    return options;
}

std::string format(const char* pattern, auto... values) {
    char text[256];
    std::snprintf(text, sizeof text, pattern, values...);
    return text;
}

double millis(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

sockaddr_in loopbackAt(uint16_t port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return to;
}

// A blocking connect() to the port; errno's value when it fails, 0 when it connects.
int connectOnce(uint16_t port, UniqueFd& fd) {
    fd.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in to = loopbackAt(port);
    return ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 ? 0 : errno;
}

// Answers each request on the closed port after the delay, a thread a connection, as a slow service would.
class Server {
public:
    Server() : listener_(loopback::listenOn(AF_INET, "127.0.0.1", ClosedPort)), thread_([this] { run(); }) {}
    ~Server() {
        stop_ = true;
        thread_.join();
        while (answering_ > 0) {
            std::this_thread::sleep_for(10ms);
        }
    }
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    void answerAfter(int ms) { delayMs_ = ms; }

private:
    void run() {
        while (!stop_) {
            pollfd p{listener_.get(), POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) {
                continue;
            }
            const int fd = ::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                continue;
            }
            ++answering_;
            std::thread([this, fd, delay = delayMs_.load()] {
                const UniqueFd connection(fd);
                pollfd request{fd, POLLIN, 0};
                char bytes[16];
                if (::poll(&request, 1, 3000) > 0 && ::recv(fd, bytes, sizeof bytes, 0) > 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(delay));
                    ::send(fd, "ok\n", 3, MSG_NOSIGNAL);
                }
                --answering_;
            }).detach();
        }
    }

    UniqueFd listener_;
    std::atomic<int> delayMs_{1};
    std::atomic<bool> stop_{false};
    std::atomic<int> answering_{0};
    std::thread thread_;
};

// One request: connect, ask, wait for the whole answer, close. True when the answer came.
bool request(int answerMs) {
    UniqueFd fd;
    if (connectOnce(ClosedPort, fd) != 0 || ::send(fd.get(), "ask\n", 4, MSG_NOSIGNAL) != 4) {
        return false;
    }
    std::string answer;
    char bytes[16];
    while (answer.size() < 3) {
        pollfd p{fd.get(), POLLIN, 0};
        const ssize_t n = ::poll(&p, 1, answerMs + 2000) > 0 ? ::recv(fd.get(), bytes, sizeof bytes, 0) : -1;
        if (n <= 0) {
            return false;
        }
        answer.append(bytes, static_cast<size_t>(n));
    }
    return answer == "ok\n";
}

bool within(Clock::duration time, const std::function<bool()>& holds) {
    const auto until = Clock::now() + time;
    while (!holds()) {
        if (Clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

bool refused() {
    return loopback::connectError(AF_INET, "127.0.0.1", ClosedPort) == ECONNREFUSED;
}

bool connects() {
    return loopback::connectError(AF_INET, "127.0.0.1", ClosedPort) == 0;
}

// A connection held open on the closed port is deleted by the sweep.
bool sweepRuns() {
    UniqueFd fd;
    return connectOnce(ClosedPort, fd) == 0 && loopback::sawReset(fd.get());
}

class Run {
public:
    explicit Run(const Options& options) : options_(options) {}

    void start() {
        save(hoursFromNow(1), hoursFromNow(2), false);
        program_ = folder_.start();
        if (!program_->started() || !within(5s, sweepRuns)) {
            quit("the program does not delete connections on a closed port:\n" + folder_.log());
        }
        std::printf("block_benchmark: %s, %d s a case; %ld CPUs\n   %s\n", folder_.file("quietwire").c_str(),
                    options_.seconds, ::sysconf(_SC_NPROCESSORS_ONLN), commandOutput("uptime").c_str());
        std::fflush(stdout);
    }

    void requests() {
        for (const bool block : {false, true}) {
            choose(block);
            for (const int delay : AnswerDelays) {
                server_.answerAfter(delay);
                int attempted = 0;
                int completed = 0;
                const CpuTime before = cpuTimeOf(program_->pid());
                const auto until = Clock::now() + std::chrono::seconds(options_.seconds);
                while (Clock::now() < until) {
                    ++attempted;
                    completed += request(delay);
                }
                cpu_[block] += cpuTimeOf(program_->pid()).precise - before.precise;
                table_.row(format("1. requests answered after %d ms, block %s", delay, block ? "on" : "off"),
                           format("%d of %d completed (%.1f %%)", completed, attempted, 100.0 * completed / attempted),
                           block ? "0 completed" : "", block ? std::optional(completed == 0) : std::nullopt);
            }
        }
    }

    // Block on (left so by the requests).
    void refusals() {
        const auto times = [&](uint16_t port, int& others) {
            std::vector<double> ms;
            UniqueFd fd;
            for (int i = 0; i < options_.tries; ++i) {
                const auto before = Clock::now();
                const int error = connectOnce(port, fd);
                ms.push_back(millis(Clock::now() - before));
                others += error != ECONNREFUSED;
            }
            std::sort(ms.begin(), ms.end());
            return ms;
        };
        int notRefused = 0;
        int notRefusedBare = 0;
        const std::vector<double> blocked = times(ClosedPort, notRefused);
        const std::vector<double> bare = times(NothingListens, notRefusedBare);
        table_.row(format("2. connect() refused by the block (%d tries)", options_.tries),
                   format("median %.3f ms, p99 %.3f ms, worst %.3f ms; %d not refused", percentile(blocked, 0.5),
                          percentile(blocked, 0.99), blocked.back(), notRefused),
                   format("p99 under %.0f ms, all refused", RefusalGoalMs),
                   percentile(blocked, 0.99) < RefusalGoalMs && notRefused == 0);
        table_.row("2. the same to a port where nothing listens",
                   format("median %.3f ms, p99 %.3f ms; %d not refused", percentile(bare, 0.5), percentile(bare, 0.99),
                          notRefusedBare));
    }

    // Over the requests' time, the same for both.
    void cpu() {
        const double seconds = static_cast<double>(options_.seconds * std::ssize(AnswerDelays));
        const double ticks = seconds * 1000 / static_cast<double>(Tick.count());
        for (const bool block : {false, true}) {
            table_.row(format("3. program CPU during the requests, block %s", block ? "on" : "off"),
                       format("%.1f ms a second (%.2f ms a tick, %.2f %% of one CPU)", 1000 * cpu_[block] / seconds,
                              1000 * cpu_[block] / ticks, 100 * cpu_[block] / seconds),
                       block ? format("at most %.0f %% of one CPU", 100 * CpuGoalShare) : "",
                       block ? std::optional(cpu_[block] / seconds <= CpuGoalShare) : std::nullopt);
        }
        table_.row("3. program CPU, block on / off", format("%.2f", cpu_[1] / cpu_[0]));
    }

    // Windows of two seconds, starting at least a second and a half after their settings are saved:
    // when the rules go after the start bound's first second, and come back after the end bound's last.
    void boundaries() {
        std::vector<double> opened;
        std::vector<double> closed;
        int early = 0;
        int missed = 0;
        for (int sample = 0; sample < options_.samples; ++sample) {
            restart();
            const auto wall = Wall::now() + 1500ms;
            const std::time_t start = Wall::to_time_t(std::chrono::floor<std::chrono::seconds>(wall)) + 1;
            save(timeOfDayAt(start), timeOfDayAt(start + 1), true);
            const auto opens = Wall::from_time_t(start);
            const auto closes = opens + 2s;
            for (const auto& [boundary, wanted, found] :
                 {std::tuple{opens, 0, &opened}, std::tuple{closes, ECONNREFUSED, &closed}}) {
                for (;;) {
                    const int error = loopback::connectError(AF_INET, "127.0.0.1", ClosedPort);
                    const auto now = Wall::now();
                    if (error == wanted) {
                        if (now < boundary) {
                            ++early;
                            std::this_thread::sleep_until(boundary);
                            continue;
                        }
                        found->push_back(std::chrono::duration<double, std::milli>(now - boundary).count());
                        break;
                    }
                    if (now > boundary + 3s) {
                        ++missed;
                        break;
                    }
                    std::this_thread::sleep_for(1ms);
                }
            }
            if (!within(3s, refused)) {
                quit("the block did not come back after the window:\n" + folder_.log());
            }
        }
        for (auto* found : {&opened, &closed}) {
            std::sort(found->begin(), found->end());
            const bool opening = found == &opened;
            table_.row(format("4. window %s -> rules %s (%zu samples)", opening ? "opens" : "closes",
                              opening ? "gone" : "back", found->size()),
                       found->empty() ? "none seen"
                                      : format("median %.0f ms, max %.0f ms", percentile(*found, 0.5), found->back()),
                       format("max %.0f ms", BoundaryGoalMs),
                       !found->empty() && found->back() <= BoundaryGoalMs && early == 0 && missed == 0);
        }
        if (early != 0 || missed != 0) {
            table_.row("4. changes before their boundary, or not within 3 s", format("%d, %d", early, missed), "0, 0",
                       false);
        }
    }

    void finish() {
        program_->signal(SIGTERM);
        const std::optional<int> ended = program_->endsWithin(5s);
        std::printf("\n");
        table_.print();
        std::printf("\nafter: %s\n", commandOutput("uptime").c_str());
        if (!ended || *ended != 0) {
            std::printf("the program did not end cleanly on SIGTERM\n");
        }
        if (const std::string log = folder_.log(); !log.empty()) {
            std::printf("\nthe program's output:\n%s\n", log.c_str());
        }
    }

private:
    void restart() {
        program_->signal(SIGTERM);
        if (program_->endsWithin(5s) != 0) {
            quit("the program did not end cleanly on SIGTERM:\n" + folder_.log());
        }
        program_ = folder_.start();
        if (!program_->started() || !within(3s, refused)) {
            quit("the block is not in force after a start:\n" + folder_.log());
        }
    }

    void save(const std::string& start, const std::string& end, bool block) {
        if (const Result saved = folder_.saveSettings(start, end, false, {"2525, TEST"}, block); !saved) {
            quit("cannot save the settings: " + saved.reason());
        }
    }

    void choose(bool block) {
        save(hoursFromNow(1), hoursFromNow(2), block);
        if (!within(3 * Tick, block ? refused : connects)) {
            quit(std::string("the block did not go ") + (block ? "on" : "off") + ":\n" + folder_.log());
        }
    }

    Options options_;
    ProgramFolder folder_;
    Server server_;
    std::unique_ptr<Running> program_;
    Table table_;
    double cpu_[2] = {0, 0}; // seconds, block off and on
};

} // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);
    if (const std::string why = loopback::enterFreshNetNamespace(); !why.empty()) {
        quit(why);
    }
    Run run(options);
    run.start();
    run.requests();
    run.refusals();
    run.cpu();
    run.boundaries();
    run.finish();
    return 0;
}
