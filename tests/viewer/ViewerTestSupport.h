#pragma once

#include "OrbivueGL.h"

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
