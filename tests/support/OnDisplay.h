#pragma once

#include "XWindows.h"

#include <gtest/gtest.h>

// Tests that open windows on the X display. Without a display they are
// skipped before their body runs: freeglut would end the whole process.
class OnDisplay : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!XWindows::reachable())
            GTEST_SKIP() << "no X display";
    }
};
