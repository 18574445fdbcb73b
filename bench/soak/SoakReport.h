// The report of a soak run: what each connection's end was worth against the schedule, the program's
// figures over the run and what each injected fault did, as a table with the goals beside the figures.
#pragma once

#include "ProcessFigures.h"
#include "SoakInjections.h"
#include "SoakLoad.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>
#include <xcb/xcb.h>

namespace soak {

constexpr int SampleCount = 20; // samples of the program over the run, besides the first

struct Sample {
    Clock::time_point at;
    long residentKb = -1;
    std::vector<std::string> descriptors;
    CpuTime cpu;
    int connections = 0;
    xcb_window_t icon = 0; // the program's icon window in the tray, on the display
};

// What a run saw of the program and the machine.
struct Findings {
    bool display = false;
    std::string loadBefore;
    std::pair<double, double> machineBefore;
    std::optional<double> iconAfterStart;
    std::vector<Sample> samples;
    Span stopped;
    std::optional<SaveInjection> save;
    std::optional<TrayInjection> tray;
    std::vector<ClockChange> clockChanges;
    Clock::time_point finished;
    std::pair<double, double> machineAfter;
    std::string loadAfter;
    std::optional<int> status;
};

// The figures, then the samples, the wrongly closed connections and the program's own output.
void printReport(const Schedule& schedule, const Churn& churn, const Findings& seen, const std::string& programLog);

} // namespace soak
