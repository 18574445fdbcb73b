#pragma once

#include "platform/SystemLog.h"

#include <string>
#include <vector>

class FakeSystemLog : public SystemLog {
public:
    std::vector<std::string> warnings;
    void Warning(const std::string& line) override { warnings.push_back(line); }
};
