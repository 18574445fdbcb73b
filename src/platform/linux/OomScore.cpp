#include "platform/linux/OomScore.h"

#include <fstream>
#include <string>

void lowerOomScore() {
    const char* path = "/proc/self/oom_score_adj";
    int current = 0;
    if (std::ifstream in(path); !(in >> current) || current <= ProgramOomScoreAdjust) {
        return;
    }
    // Lowering needs CAP_SYS_RESOURCE; the kernel refuses the write otherwise, and the rank stays.
    std::ofstream(path) << ProgramOomScoreAdjust << '\n';
}
