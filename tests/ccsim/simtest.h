// SPDX-License-Identifier: Apache-2.0
// Test support: temporary simulated homes and running the stand-ins as
// child processes with an argument vector (never through a shell).
#pragma once

#include "ccsim.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace simtest {

struct Result {
    int status = -1;       // exit status, -1 if killed by a signal
    int signal = 0;        // terminating signal, 0 if it exited
    bool timedOut = false; // killed by run() after the timeout
    std::string out, err;
    // When each piece of stdout arrived: ms after the start, and its size.
    std::vector<std::pair<long long, std::size_t>> outPieces;
};

// Runs `program args...`, stdin from /dev/null, capturing stdout and stderr.
// After timeoutMs the child is killed with SIGKILL and timedOut is set.
Result run(const std::string& program, const std::vector<std::string>& args, int timeoutMs = 30000);

// Text of a file; empty if missing.
std::string slurp(const std::string& path);
mode_t modeOf(const std::string& path); // permission bits, 0 if missing

// Each test gets a fresh home under a new temporary directory whose name has
// a blank in it; both are removed afterwards.
class SimTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    Result ct(const std::vector<std::string>& args, int timeoutMs = 30000) const;
    Result fixProt(const std::vector<std::string>& args, int timeoutMs = 30000) const;
    Result tool(const std::vector<std::string>& args, int timeoutMs = 60000) const;
    ccsim::View add(const std::string& tag, const std::string& host = "ccview01",
                    bool active = false, bool snapshot = false, bool ucm = false);

    std::string tmp_;
    std::unique_ptr<ccsim::Home> home_;
};

} // namespace simtest
