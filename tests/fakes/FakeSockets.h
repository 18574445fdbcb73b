#pragma once

#include "platform/Sockets.h"

#include <vector>

class FakeSockets : public Sockets {
public:
    int32_t startupResult = 0;
    std::vector<uint16_t> startups;
    int cleanups = 0;

    int32_t WSAStartup(uint16_t version) override {
        startups.push_back(version);
        return startupResult;
    }
    int32_t WSACleanup() override {
        ++cleanups;
        return 0;
    }
};
