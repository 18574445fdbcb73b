#pragma once

#include <QApplication>
#include <gtest/gtest.h>
#include <memory>

// One QApplication for the tests of a program, on the offscreen platform: no display is needed.
class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "qt_tests";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

private:
    std::unique_ptr<QApplication> app_;
};
inline const auto* const qtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);
