#include "SoakReport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <iterator>
#include <tuple>

namespace soak {

namespace {

// What each connection's end was worth, knowing the window and when the program was stopped.
class Verdicts {
public:
    Verdicts(const Schedule& schedule, const std::vector<Outcome>& outcomes, Span stopped)
        : schedule_(schedule), outcomes_(outcomes), stopped_(stopped), alarms_(schedule.alarms()) {}

    // Connections on closed ports owed a close: from their deadline, or from SIGCONT for those whose
    // deadline fell while the program was stopped (or just before, too late for its last tick).
    struct Owed {
        int count = 0;
        int closed = 0;
        std::vector<double> latencies; // ms, ascending
    };
    enum class Group { Running, Stopped };
    Group groupOf(const Outcome& o) const {
        const Clock::time_point d = schedule_.deadline(o.made);
        return stopped_.from && stopped_.to && d > *stopped_.from - Goal && d < *stopped_.to &&
                       (o.end != End::Killed || o.ended >= *stopped_.from)
                   ? Group::Stopped
                   : Group::Running;
    }
    // Made while the rules changed under it: less than a tick before the window opened, or about when
    // the administrator cleared the alarm (the program clears it a moment after its box is closed).
    bool raced(const Outcome& o) const {
        if (o.made < schedule_.opens && schedule_.opens - o.made < Goal) {
            return true;
        }
        for (const auto& [raised, cleared] : alarms_) {
            if (raised < cleared && cleared != Clock::time_point::max() && o.made > cleared - Goal &&
                o.made < cleared + Goal) {
                return true;
            }
        }
        return false;
    }
    // Whether a connection on a closed port is owed a close at all, and its deadline.
    std::optional<Clock::time_point> owedFrom(const Outcome& o) const {
        const Clock::time_point d = schedule_.deadline(o.made);
        if (!o.closedPort || raced(o) || o.end == End::ClosedByUs || o.ended < d) {
            return std::nullopt;
        }
        return d;
    }
    Owed owed(Group group, const std::function<bool(Clock::time_point deadline)>& within = nullptr) const {
        Owed result;
        for (const Outcome& o : outcomes_) {
            const auto d = owedFrom(o);
            if (!d || groupOf(o) != group || (within && !within(*d))) {
                continue;
            }
            ++result.count;
            if (o.end == End::Killed) {
                ++result.closed;
                const Clock::time_point from = group == Group::Stopped ? *stopped_.to : *d;
                result.latencies.push_back(millis(o.ended - from));
            }
        }
        std::sort(result.latencies.begin(), result.latencies.end());
        return result;
    }

    // Killed though it was not owed a close: on an open port, or on a closed port inside the window.
    std::vector<const Outcome*> wronglyClosed() const {
        std::vector<const Outcome*> wrong;
        for (const Outcome& o : outcomes_) {
            if (o.end == End::Killed && (!o.closedPort || (!raced(o) && o.ended < schedule_.deadline(o.made)))) {
                wrong.push_back(&o);
            }
        }
        return wrong;
    }

private:
    const Schedule& schedule_;
    const std::vector<Outcome>& outcomes_;
    Span stopped_;
    std::vector<std::pair<Clock::time_point, Clock::time_point>> alarms_;
};

std::string latencyFigures(const Verdicts::Owed& owed) {
    if (owed.latencies.empty()) {
        return "none closed";
    }
    return format("worst %.1f ms, median %.1f ms, 99th %.1f ms", owed.latencies.back(), percentile(owed.latencies, 0.5),
                  percentile(owed.latencies, 0.99));
}

// What happened when, by name: the injections, the clock's warnings and the window's bounds.
std::vector<std::pair<Span, std::string>> events(const Schedule& schedule, const Findings& seen) {
    std::vector<std::pair<Span, std::string>> all = {{{schedule.opens, schedule.opens}, "the window opened"},
                                                     {{schedule.closes, schedule.closes}, "the window closed"},
                                                     {seen.stopped, "the stop"}};
    for (const ClockChange& c : seen.clockChanges) {
        all.push_back({c.shown.to ? c.shown : Span{c.at, c.at + 3s}, "a clock warning and its dialog"});
    }
    if (seen.save) {
        all.push_back({seen.save->session, seen.display ? "the save's dialog" : "the save"});
    }
    if (seen.tray) {
        all.push_back({{seen.tray->killed, seen.tray->killed + TrayWait}, "the new tray"});
    }
    return all;
}

} // namespace

void printReport(const Schedule& schedule, const Churn& churn, const Findings& seen, const std::string& programLog) {
    const Verdicts verdicts(schedule, churn.outcomes, seen.stopped);
    const auto deadlineAt = [&](Clock::time_point at) {
        return verdicts.owed(Verdicts::Group::Running, [at](Clock::time_point d) { return d == at; });
    };
    const Verdicts::Owed running = verdicts.owed(Verdicts::Group::Running);
    const Verdicts::Owed whileStopped = verdicts.owed(Verdicts::Group::Stopped);
    const auto wrong = verdicts.wronglyClosed();
    int openPort = 0, insideTheWindow = 0, raced = 0, racedClosed = 0, otherwise = 0;
    for (const Outcome& o : churn.outcomes) {
        openPort += !o.closedPort;
        insideTheWindow += o.closedPort && schedule.inside(o.made) && o.ended < schedule.closes;
        otherwise += o.end == End::Otherwise;
        if (o.closedPort && verdicts.raced(o)) {
            ++raced;
            racedClosed += o.end == End::Killed;
        }
    }
    const int owedCount = running.count + whileStopped.count;
    const int owedClosed = running.closed + whileStopped.closed;
    const double runSeconds = seconds(seen.finished - schedule.begin);
    const auto alarms = schedule.alarms();

    std::printf("\nsoak_benchmark: %.0f s run, %d connections made (%.1f a second), %d connect() failures\n",
                runSeconds, churn.made.load(), churn.made.load() / runSeconds, churn.connectFailures);
    Table report;
    report.row("closed ports, owed a close (outside the window): closed",
               format("%d of %d (not closed: %d)", owedClosed, owedCount, owedCount - owedClosed), "all",
               owedClosed == owedCount && owedCount > 0);
    report.row("  time to close, from the deadline (the stop apart)", latencyFigures(running), "worst <= 505 ms",
               !running.latencies.empty() && running.latencies.back() <= millis(Goal));
    report.row("  over 505 ms", format("%ld of %zu",
                                       std::count_if(running.latencies.begin(), running.latencies.end(),
                                                     [](double ms) { return ms > millis(Goal); }),
                                       running.latencies.size()));
    const Verdicts::Owed atTheEnd = deadlineAt(schedule.closes);
    report.row("  held across the window's end",
               format("%d of %d closed; ", atTheEnd.closed, atTheEnd.count) + latencyFigures(atTheEnd));
    for (const auto& [raised, cleared] : alarms) {
        if (raised < cleared) {
            const Verdicts::Owed atTheAlarm = deadlineAt(raised);
            report.row(format("  inside the window when the alarm came (+%.1f s)", schedule.since(raised)),
                       format("%d of %d closed; ", atTheAlarm.closed, atTheAlarm.count) + latencyFigures(atTheAlarm));
        }
    }
    report.row("  raced a change (made < 505 ms before the opening, or about when an alarm was cleared)",
               format("%d (closed anyway: %d), not counted", raced, racedClosed));
    report.row("wrongly closed (open port, or closed port inside the window)",
               format("%zu (open-port connections %d, closed-port inside the window %d)", wrong.size(), openPort,
                      insideTheWindow),
               "0", wrong.empty());
    report.row("ended without a reset (unexpected)", format("%d", otherwise));

    const Sample& first = seen.samples.front();
    const Sample& last = seen.samples.back();
    // Memory grows in steps where something first happens (the first message box loads Qt's styles,
    // fonts and icon themes; the most connections closed in one tick set the allocator's high-water
    // mark), and stays there; a leak grows a little in every interval.
    constexpr long StepKb = 256;
    constexpr long NoiseKb = 64;
    std::string steps;
    long rest = 0;
    int quiet = 0;
    const auto happenings = events(schedule, seen);
    for (size_t i = 1; i < seen.samples.size(); ++i) {
        const Sample& a = seen.samples[i - 1];
        const Sample& b = seen.samples[i];
        const long kb = b.residentKb - a.residentKb;
        std::string what;
        for (const auto& [span, name] : happenings) {
            if (span.from && span.to && *span.from <= b.at && *span.to >= a.at &&
                what.find(name) == std::string::npos) {
                what += (what.empty() ? "" : ", ") + name;
            }
        }
        if (what.empty() && std::abs(kb) <= StepKb) {
            rest += kb;
            ++quiet;
            continue;
        }
        if (std::abs(kb) <= NoiseKb) {
            continue;
        }
        steps += format("%s%+ld kB at +%.0f..+%.0f s (%s)", steps.empty() ? "" : "; ", kb, schedule.since(a.at),
                        schedule.since(b.at), what.empty() ? "nothing injected" : what.c_str());
    }
    report.row(
        "resident memory (VmRSS), start -> end",
        format("%ld kB -> %ld kB (%+ld kB)", first.residentKb, last.residentKb, last.residentKb - first.residentKb),
        "flat");
    report.row(format("  steps between samples: over %ld kB, or over %ld kB with something happening", StepKb, NoiseKb),
               steps.empty() ? "none" : steps);
    report.row(format("  the rest: %d intervals of %.0f s with nothing happening", quiet, runSeconds / SampleCount),
               format("%+ld kB", rest), "flat", rest <= StepKb);
    std::vector<std::string> atStart = first.descriptors, atEnd = last.descriptors;
    std::sort(atStart.begin(), atStart.end());
    std::sort(atEnd.begin(), atEnd.end());
    std::string differ;
    for (const auto& [from, to, sign] : {std::tuple{&atStart, &atEnd, "-"}, std::tuple{&atEnd, &atStart, "+"}}) {
        std::vector<std::string> targets;
        std::set_difference(from->begin(), from->end(), to->begin(), to->end(), std::back_inserter(targets));
        for (const std::string& target : targets) {
            differ += std::string(" ") + sign + target;
        }
    }
    report.row("open descriptors, start -> end",
               format("%zu -> %zu", first.descriptors.size(), last.descriptors.size()) + differ, "flat");
    const double cpu = last.cpu.ticked - first.cpu.ticked;
    report.row("CPU, utime+stime over the run",
               format("%.2f s (%.2f%% of one core; %.2f s by the scheduler's run time)", cpu, 100 * cpu / runSeconds,
                      last.cpu.precise - first.cpu.precise));

    if (seen.stopped.to) {
        report.row("(b) SIGSTOP 5 s, SIGCONT: first kill after SIGCONT",
                   whileStopped.latencies.empty() ? "none owed" : format("%.1f ms", whileStopped.latencies.front()),
                   "at once, within a tick", !whileStopped.latencies.empty() && whileStopped.latencies.front() <= 500);
        report.row("  owed during the stop: closed; time from SIGCONT",
                   format("%d of %d; ", whileStopped.closed, whileStopped.count) + latencyFigures(whileStopped));
    }
    if (seen.save) {
        report.row("(a) settings folder read-only around a save", seen.save->how);
        if (!seen.save->problem.empty()) {
            report.row("  NOT DONE", seen.save->problem);
        }
        for (const std::string& shown : seen.save->alsoShown) {
            report.row("  first closed a message box", "\"" + shown + "\"");
        }
        if (seen.save->readOnly.to) {
            report.row(format("  read-only for %.1f s; the save said",
                              seconds(*seen.save->readOnly.to - *seen.save->readOnly.from)),
                       seen.save->said);
            report.row("  then", seen.save->effect);
            report.row("  writable again", seen.save->afterwards);
        }
        const Verdicts::Owed during =
            verdicts.owed(Verdicts::Group::Running, [&](Clock::time_point d) { return seen.save->session.holds(d); });
        report.row(format("  enforcement over its %.1f s: closed; time to close",
                          seconds(*seen.save->session.to - *seen.save->session.from)),
                   format("%d of %d; ", during.closed, during.count) + latencyFigures(during), "all",
                   during.closed == during.count);
    }
    if (seen.display) {
        report.row("icon in the tray after the program's start",
                   seen.iconAfterStart ? format("%.0f ms", *seen.iconAfterStart) : "NEVER");
    }
    if (seen.tray) {
        const bool back = seen.tray->iconBack && seen.tray->trayOwned;
        report.row("(c) tray host killed and started again: icon back",
                   back ? format("%.0f ms after the new tray took the selection (%.0f ms after the kill)",
                                 millis(*seen.tray->iconBack - *seen.tray->trayOwned),
                                 millis(*seen.tray->iconBack - seen.tray->killed))
                        : seen.tray->problem,
                   "within 1 s", back && *seen.tray->iconBack - *seen.tray->trayOwned <= 1s);
        if (seen.tray->replaced) {
            report.row("  then the program put its icon in afresh",
                       format("%.0f ms after the kill", millis(*seen.tray->replaced - seen.tray->killed)) +
                           (seen.tray->gone ? format(", gone from the tray for %.0f ms",
                                                     millis(*seen.tray->replaced - *seen.tray->gone))
                                            : ", never gone from the tray"));
        } else if (seen.tray->gone) {
            report.row("  then the icon went from the tray", "and was not back within 3 s");
        }
        if (seen.tray->iconBack) {
            const Verdicts::Owed during = verdicts.owed(Verdicts::Group::Running, [&](Clock::time_point d) {
                return d >= seen.tray->killed && d <= *seen.tray->iconBack + 1s;
            });
            report.row("  enforcement meanwhile",
                       format("%d of %d closed; ", during.closed, during.count) + latencyFigures(during));
        }
    }
    for (const ClockChange& c : seen.clockChanges) {
        report.row(format("system clock set by another process at +%.1f s", schedule.since(c.at)),
                   !seen.display       ? "nothing to see headless: no icon in a tray, no alarm"
                   : c.warning.empty() ? std::string("no warning shown") + (c.alarmStored ? ", alarm stored" : "")
                                       : "the program warned \"" + c.warning + "\"" +
                                             (c.alarmStored ? ", alarm stored" : ", NO alarm stored"));
        if (!c.cleared.empty()) {
            report.row("  then", c.cleared);
        }
    }
    for (const auto& [raised, cleared] : alarms) {
        if (raised < cleared) {
            report.row("  closed ports closed at all hours (the alarm)",
                       cleared == Clock::time_point::max()
                           ? format("from +%.1f s to the end", schedule.since(raised))
                           : format("from +%.1f s until the administrator cleared it at +%.1f s",
                                    schedule.since(raised), schedule.since(cleared)));
        }
    }
    report.row("program ended by SIGTERM", seen.status ? format("exit status %d", *seen.status) : "NOT within 5 s", "0",
               seen.status && *seen.status == 0);
    report.row("machine: all CPUs busy meanwhile",
               format("%.0f%%", 100 * (seen.machineAfter.first - seen.machineBefore.first) /
                                    (seen.machineAfter.second - seen.machineBefore.second)));
    report.print();

    std::printf("\nsamples of the program (+s: since the churn began)\n"
                "|     +s | VmRSS kB | fds | CPU s (utime+stime) | live connections | icon window |\n"
                "|--------|----------|-----|---------------------|------------------|-------------|\n");
    for (const Sample& s : seen.samples) {
        std::printf("| %6.1f | %8ld | %3zu | %19.2f | %16d | %11s |\n", schedule.since(s.at), s.residentKb,
                    s.descriptors.size(), s.cpu.ticked, s.connections,
                    seen.display ? format("0x%x", s.icon).c_str() : "-");
    }
    if (!wrong.empty()) {
        std::printf("\nwrongly closed (first 10): port, made, ended (+s), window +%.3f..+%.3f s\n",
                    schedule.since(schedule.opens), schedule.since(schedule.closes));
        for (size_t i = 0; i < std::min<size_t>(wrong.size(), 10); ++i) {
            std::printf("   %5u  +%.3f  +%.3f\n", wrong[i]->port, schedule.since(wrong[i]->made),
                        schedule.since(wrong[i]->ended));
        }
    }
    std::printf("\nbefore: %s\nafter:  %s\n", seen.loadBefore.c_str(), seen.loadAfter.c_str());
    if (const std::string log = programLog; !log.empty()) {
        std::printf("\nthe program's output:\n%s\n", log.c_str());
    }
}

} // namespace soak
