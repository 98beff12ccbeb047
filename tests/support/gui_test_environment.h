#pragma once
// A Qt application object for a GoogleTest program, made before the first
// test and destroyed after the last, on the offscreen platform unless the
// environment names another. Include from exactly one file of a program:
//   QV_GUI_TEST_ENVIRONMENT(QGuiApplication)
#include <QByteArray>
#include <QtGlobal>

#include <gtest/gtest.h>

#include <memory>

namespace qv::test {

template <typename App>
class GuiTestEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = std::make_unique<App>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }

private:
    int argc_ = 1;
    char name_[16] = "qv-tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<App> app_;
};

}  // namespace qv::test

#define QV_GUI_TEST_ENVIRONMENT(App)                                                      \
    namespace {                                                                           \
    [[maybe_unused]] ::testing::Environment* const qvGuiEnvironment =                     \
        ::testing::AddGlobalTestEnvironment(new ::qv::test::GuiTestEnvironment<App>());  \
    }
