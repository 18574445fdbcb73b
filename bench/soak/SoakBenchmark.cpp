// The built Linux program under churn for a long run, measured from outside. Run as root:
//   build/linux/bench/soak_benchmark [--seconds 600] [--rate 50] [--headless]
// The program runs in a network namespace (and a mount namespace) of the benchmark's own, on an X server
// of its own (Xvfb, with trayer as the tray host: the benchmark starts itself again under dbus-run-session
// and xvfb-run when there is no DISPLAY), or with --headless on none. Meanwhile about --rate connections
// a second are opened over the loopback interface, IPv4 and IPv6, on closed ports (on the program's list)
// and open ones (not on it), most held for seconds and some for minutes, while the program's window
// opens and closes again. Also during the run: the settings folder made read-only around a save, the
// program stopped for five seconds, and (on the display) the tray host killed and started again.
// Goals are reported beside the figures; the exit status is not 0 only when the benchmark could not run.
#include "ProcessFigures.h"
#include "SoakInjections.h"
#include "SoakLoad.h"
#include "SoakReport.h"
#include "platform/qt/QtTrayTestSupport.h"
#include "program/ProgramDisplay.h"
#include "program/ProgramFolder.h"
#include "support/TempDir.h"

#include <QGuiApplication>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace soak;

constexpr auto Warmup = 8s; // the program started and its icon in the tray before the churn

struct Options {
    int seconds = 600;
    int rate = 50;
    bool headless = false;
};

[[noreturn]] void quit(const std::string& why) {
    quitBenchmark("soak_benchmark", why);
}

Options parse(int argc, char** argv) {
    Options options;
    readOptions(argc, argv, "soak_benchmark", "[--seconds N (at least 30)] [--rate N] [--headless]",
                {{"--seconds", &options.seconds}, {"--rate", &options.rate}}, {{"--headless", &options.headless}});
    if (options.seconds < 30) {
        quit("--seconds must be at least 30: the window opens and closes within the run");
    }
    return options;
}
// Starts this benchmark again on an X server and a session bus of its own.
void restartOnADisplay(int argc, char** argv) {
    if (std::getenv("QW_SOAK_STARTED_XVFB") != nullptr) {
        quit("xvfb-run gave no DISPLAY");
    }
    ::setenv("QW_SOAK_STARTED_XVFB", "1", 1);
    std::string self = std::filesystem::canonical("/proc/self/exe").string();
    std::vector<std::string> words = {"dbus-run-session", "--", "xvfb-run", "-a", "-s", "-screen 0 800x600x24", self};
    words.insert(words.end(), argv + 1, argv + argc);
    std::vector<char*> args;
    for (std::string& w : words) {
        args.push_back(w.data());
    }
    args.push_back(nullptr);
    std::fflush(stdout);
    ::execvp(args[0], args.data());
    quit(std::string("cannot start dbus-run-session and xvfb-run (") + std::strerror(errno) +
         "); install xvfb, trayer and xdotool (scripts/install-deps.sh), or pass --headless");
}
// One run: the program started, the connections churned and the faults injected on schedule, then the
// figures.
class Soak {
public:
    explicit Soak(const Options& options)
        : options_(options), display_(!options.headless), seen_(before(display_)),
          schedule_(Clock::now() + Warmup, options.seconds) {}

    // The settings written, the tray host and the program started; quits when it cannot.
    void start() {
        const Result saved = folder_.saveSettings(schedule_.startBound, schedule_.endBound, false, ClosedList);
        const StoredSettings stored = folder_.stored();
        if (!saved || stored.start != schedule_.startBound || stored.end != schedule_.endBound ||
            stored.ports != ClosedList) {
            quit("cannot write the settings: " + saved.reason());
        }
        if (display_ && !host_->start()) {
            quit("cannot start trayer (scripts/install-deps.sh installs it)");
        }
        program_ = folder_.start(display_ ? displayEnvironment() : std::vector<std::string>{});
        if (!program_->started()) {
            quit("cannot start " + folder_.file("quietwire"));
        }
        if (display_) {
            const auto started = Clock::now();
            XWindows windows;
            if (waitFor([&] { return windows.shownInside(pid(), host_->process().processId()) != 0; },
                        std::chrono::duration_cast<std::chrono::milliseconds>(schedule_.begin - started))) {
                seen_.iconAfterStart = millis(Clock::now() - started);
            }
        }
        pauseUntil(schedule_.begin);
    }

    void run() {
        std::printf("soak_benchmark: %s for %d s, about %d connections a second, %s; %ld CPUs\n"
                    "   window %s..%s (inside from +%.0f s to +%.0f s of the run); closed list %zu ports\n"
                    "   before: %s\n",
                    folder_.file("quietwire").c_str(), options_.seconds, options_.rate,
                    display_ ? "on Xvfb with trayer as the tray host" : "headless", ::sysconf(_SC_NPROCESSORS_ONLN),
                    schedule_.startBound.c_str(), schedule_.endBound.c_str(), schedule_.since(schedule_.opens),
                    schedule_.since(schedule_.closes), ClosedList.size(), seen_.loadBefore.c_str());
        std::fflush(stdout);

        churn_ = std::make_unique<Churn>(schedule_, options_.rate, display_);
        std::atomic<bool> stop{false};
        std::string failure;
        std::thread churning([&] {
            try {
                churn_->run(stop);
            } catch (const std::exception& e) {
                failure = e.what();
            }
        });
        struct Step {
            double fraction;
            std::function<void()> act;
        };
        std::vector<Step> steps = {{0.15, [&] { stopTheProgram(); }}, {0.75, [&] { saveReadOnly(); }}};
        if (display_) {
            steps.push_back({0.85, [&] { seen_.tray = restartTheTray(*host_, *newHost_, pid()); }});
        }
        for (int step = 0; step <= SampleCount; ++step) {
            steps.push_back({static_cast<double>(step) / SampleCount, [&] { takeSample(); }});
        }
        std::stable_sort(steps.begin(), steps.end(),
                         [](const Step& a, const Step& b) { return a.fraction < b.fraction; });
        for (const Step& step : steps) {
            pauseAnswering(schedule_.at(step.fraction));
            step.act();
        }
        seen_.finished = Clock::now();
        stop = true;
        churning.join();
        if (!failure.empty()) {
            quit("the connections failed: " + failure);
        }
        seen_.machineAfter = machineJiffies();
        seen_.loadAfter = commandOutput("uptime");
        program_->signal(SIGTERM);
        seen_.status = program_->endsWithin(5s);
    }

    void report() const { printReport(schedule_, *churn_, seen_, folder_.log()); }

private:
    // The machine before the run, for the report.
    static Findings before(bool display) {
        Findings seen;
        seen.display = display;
        seen.loadBefore = commandOutput("uptime");
        seen.machineBefore = machineJiffies();
        return seen;
    }

    pid_t pid() const { return program_->pid(); }
    qint64 currentHost() const { return (seen_.tray ? newHost_ : host_)->process().processId(); }

    // Waits until `until`, answering the program's warning when someone on the machine sets the clock.
    void pauseAnswering(Clock::time_point until) {
        do {
            while (answered_ < churn_->clockSets.load()) {
                answered_ = churn_->clockSets.load();
                const Clock::time_point at{Clock::duration(churn_->lastClockSet.load())};
                seen_.clockChanges.push_back(answerClockChange(folder_, schedule_, pid(), currentHost(), at, display_));
            }
            pauseUntil(std::min(until, Clock::now() + 100ms));
        } while (Clock::now() < until);
    }

    void takeSample() {
        Sample s{Clock::now(), residentKb(pid()), descriptorTargets(pid()), cpuTimeOf(pid()), churn_->live.load(), 0};
        if (display_) {
            s.icon = XWindows().shownInside(pid(), currentHost());
        }
        seen_.samples.push_back(std::move(s));
    }

    void stopTheProgram() {
        program_->signal(SIGSTOP);
        seen_.stopped.from = Clock::now();
        pauseUntil(*seen_.stopped.from + StopFor);
        program_->signal(SIGCONT);
        seen_.stopped.to = Clock::now();
    }

    void saveReadOnly() {
        seen_.save = display_ ? saveThroughTheDialog(folder_, schedule_, pid(), currentHost())
                              : saveFromOutside(folder_, schedule_);
        seen_.save->session.to = Clock::now();
    }

    const Options options_;
    const bool display_;
    Findings seen_;
    Schedule schedule_;
    ProgramFolder folder_;
    // trayer, and the one started when it was killed
    std::unique_ptr<HelperProcess> host_{new HelperProcess(trayer())};
    std::unique_ptr<HelperProcess> newHost_{new HelperProcess(trayer())};
    std::unique_ptr<Running> program_;
    std::unique_ptr<Churn> churn_;
    int answered_ = 0;
};

void runSoak(const Options& options) {
    // Before any thread: a namespace is entered by the calling thread alone.
    if (const std::string why = enterNamespaces(); !why.empty()) {
        quit(why);
    }
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);

    std::optional<QGuiApplication> app;
    static int qtArgc = 1;
    static char qtName[] = "soak_benchmark";
    static char* qtArgv[] = {qtName, nullptr};
    const TempDir runtime; // the benchmark's own, as a login's (0700)
    if (!options.headless) {
        std::filesystem::permissions(runtime.path(), std::filesystem::perms::owner_all);
        qputenv("XDG_RUNTIME_DIR", runtime.str().c_str());
        qputenv("QT_QPA_PLATFORM", "xcb");
        app.emplace(qtArgc, qtArgv);
    }
    Soak run(options);
    run.start();
    run.run();
    run.report();
}

} // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);
    if (!options.headless && std::getenv("DISPLAY") == nullptr) {
        restartOnADisplay(argc, argv);
    }
    try {
        runSoak(options);
    } catch (const std::exception& e) {
        quit(e.what());
    }
    return 0;
}
