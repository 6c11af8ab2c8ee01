// SPDX-License-Identifier: MIT
// Creates the one QApplication of a test program before its first test runs.
#include <gtest/gtest.h>

#include <QApplication>

#include <memory>

#include "qt_test_support.h"

namespace {

class QtApplicationEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "vintrel-test";
        static char *argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
        vintrel::platform::setMessageBoxObserver(vintrel::test::unexpectedBoxObserver());
    }
    void TearDown() override { app_.reset(); }

  private:
    std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] const auto *const g_environment =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

}  // namespace
