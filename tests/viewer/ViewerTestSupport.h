#pragma once

#include "OrbivueGL.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// A record with `n` made-up paths per non-empty series, kept alive with it.
struct TestSet {
    OrbivueSettings record;
    std::vector<std::string> paths;

    TestSet(int lower, int centric, int upper);
    // Derives the viewer state from the record.
    void derive() {
        OrbivueGL::settings = &record;
        OrbivueGL::startupFunction();
    }
};

// Every viewer test starts from the module state the program starts with and
// gives it back afterwards, so no test sees what an earlier one left behind.
class FreshViewerState : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
};
