// The Wine tests' entry: --platform win64|win32 picks the Windows build to run. Where that build
// or the Wine that runs it is missing, the whole program reports itself skipped (exit 77) with
// the reason, so that CTest shows a skip and not a pass.
#include "WineRun.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr int kSkipped = 77;

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    std::string preset = "win64";
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--platform") == 0) {
            preset = argv[i + 1];
        }
    }
    winetest::Platform& p = winetest::Windows();
    p = winetest::WindowsPlatform(preset);
    const std::string reason = winetest::Unavailable(p);
    if (!reason.empty()) {
        std::printf("SKIPPED: %s\n", reason.c_str());
        return kSkipped;
    }
    // 64-bit Wine makes the prefix for both platforms, so one it cannot make is a fault here.
    const std::string failure = winetest::PreparePrefix(p);
    if (!failure.empty()) {
        std::printf("FAILED: %s\n", failure.c_str());
        return 1;
    }
    return RUN_ALL_TESTS();
}
