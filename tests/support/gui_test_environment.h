#pragma once
// A QApplication for a GoogleTest program, made before the first test and destroyed after the last, on the offscreen
// platform unless the environment names another. Including it is enough.
#include <QApplication>

#include <gtest/gtest.h>

#include <memory>

namespace qv::test {

class GuiTestEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }

private:
    int argc_ = 1;
    char name_[16] = "qv-tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

inline ::testing::Environment* const guiTestEnvironment = ::testing::AddGlobalTestEnvironment(new GuiTestEnvironment);

}  // namespace qv::test
