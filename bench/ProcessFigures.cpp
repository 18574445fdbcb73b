#include "ProcessFigures.h"

#include "support/TempDir.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

void quitBenchmark(const char* program, const std::string& why) {
    std::fprintf(stderr, "%s: %s\n", program, why.c_str());
    std::exit(1);
}

void readOptions(int argc, char** argv, const char* program, const char* usage,
                 std::initializer_list<std::pair<const char*, int*>> counts,
                 std::initializer_list<std::pair<const char*, bool*>> flags) {
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        const auto named = [&word](const auto& option) { return word == option.first; };
        if (const auto flag = std::find_if(flags.begin(), flags.end(), named); flag != flags.end()) {
            *flag->second = true;
            continue;
        }
        const auto count = std::find_if(counts.begin(), counts.end(), named);
        if (count == counts.end() || i + 1 == argc || (*count->second = std::atoi(argv[++i])) <= 0) {
            quitBenchmark(program, std::string("usage: ") + program + " " + usage);
        }
    }
}

std::string commandOutput(const char* command) {
    std::string text;
    if (FILE* pipe = ::popen(command, "r")) {
        char line[512];
        while (std::fgets(line, sizeof line, pipe) != nullptr) {
            text += line;
        }
        ::pclose(pipe);
    }
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

CpuTime cpuTimeOf(pid_t pid) {
    CpuTime time;
    const std::string proc = "/proc/" + std::to_string(pid);
    const std::string stat = readBytes(proc + "/stat");
    const size_t name = stat.rfind(')');
    if (name == std::string::npos) {
        return time;
    }
    std::istringstream fields(stat.substr(name + 2));
    std::string skipped;
    for (int field = 3; field < 14; ++field) {
        fields >> skipped;
    }
    unsigned long long utime = 0, stime = 0;
    fields >> utime >> stime;
    time.ticked = static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator(proc + "/task", error)) {
        unsigned long long nanos = 0;
        std::ifstream(task.path() / "schedstat") >> nanos;
        time.precise += static_cast<double>(nanos) / 1e9;
    }
    return time;
}

long residentKb(pid_t pid) {
    std::istringstream status(readBytes("/proc/" + std::to_string(pid) + "/status"));
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

std::vector<std::string> descriptorTargets(pid_t pid) {
    std::vector<std::string> targets;
    std::error_code error;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        targets.push_back(std::filesystem::read_symlink(fd.path(), error).string());
    }
    return targets;
}

std::pair<double, double> machineJiffies() {
    std::istringstream line(readBytes("/proc/stat"));
    std::string cpu;
    line >> cpu;
    double busy = 0, total = 0, value = 0;
    for (int field = 0; field < 8 && line >> value; ++field) {
        total += value;
        busy += (field == 3 || field == 4) ? 0 : value; // idle, iowait
    }
    return {busy, total};
}

bool wasReset(int fd) {
    int error = 0;
    socklen_t length = sizeof error;
    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
    if (error == 0) {
        char byte;
        error = ::recv(fd, &byte, 1, MSG_DONTWAIT) < 0 ? errno : 0;
    }
    return error == ECONNRESET || error == ECONNABORTED;
}

double percentile(const std::vector<double>& sorted, double fraction) {
    if (sorted.empty()) {
        return 0;
    }
    const size_t index = static_cast<size_t>(fraction * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(index, sorted.size() - 1)];
}

void Table::row(const std::string& what, const std::string& value, const std::string& goal, std::optional<bool> met) {
    rows_.push_back({what, value, goal, met ? (*met ? "yes" : "NO") : ""});
}

void Table::print() const {
    size_t widths[4] = {0, 0, 0, 0};
    for (const auto& r : rows_) {
        for (size_t i = 0; i < 4; ++i) {
            widths[i] = std::max(widths[i], r[i].size());
        }
    }
    const auto line = [&](const std::array<std::string, 4>& r) {
        std::printf("| %-*s | %-*s | %-*s | %-*s |\n", static_cast<int>(widths[0]), r[0].c_str(),
                    static_cast<int>(widths[1]), r[1].c_str(), static_cast<int>(widths[2]), r[2].c_str(),
                    static_cast<int>(widths[3]), r[3].c_str());
    };
    line({"figure", "measured", "goal", "met"});
    line({std::string(widths[0], '-'), std::string(widths[1], '-'), std::string(widths[2], '-'),
          std::string(widths[3], '-')});
    for (const auto& r : rows_) {
        line(r);
    }
}
