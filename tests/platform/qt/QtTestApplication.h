#pragma once

#include <QApplication>
#include <gtest/gtest.h>
#include <memory>

// One QApplication for a test program, on the given Qt platform ("offscreen" needs no display).
class QtApplicationEnvironment : public ::testing::Environment {
public:
    explicit QtApplicationEnvironment(const char* platform) : platform_(platform) {}
    void SetUp() override {
        qputenv("QT_QPA_PLATFORM", platform_);
        static int argc = 1;
        static char name[] = "quietwire_tests";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

private:
    const char* platform_;
    std::unique_ptr<QApplication> app_;
};
