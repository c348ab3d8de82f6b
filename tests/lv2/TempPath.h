// A path in the temporary folder that no other test process (another test of this program run
// at the same time, or another build's) writes to.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

namespace lv2test {

inline std::string TempPath(const std::string& name) {
    return ::testing::TempDir() + "strip_viewer_" + std::to_string(getpid()) + "_" + name;
}

} // namespace lv2test
