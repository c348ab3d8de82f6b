// The Wine tests' entry: --platform win64|win32 picks the Windows build to run. Where that build
// or the Wine that runs it is missing, the whole program reports itself skipped (exit 77) with
// the reason, so that CTest shows a skip and not a pass.
#include "WineRun.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <fstream>

namespace {

constexpr int kSkipped = 77;

bool Exists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

// Why the platform cannot run here, or an empty string.
std::string Unavailable(const winetest::Platform& p, const std::string& preset) {
    if (!Exists(p.bin + "/wavepreview.exe") || !Exists(p.bin + "/Module.dll")) {
        return "no " + preset + " build in " + p.bin + " (build it: cmake --preset " + preset +
               " && cmake --build --preset " + preset + ")";
    }
    if (p.loader.empty() || !Exists(p.loader)) {
        return "no Wine loader for " + preset + " (" + (p.loader.empty() ? "none" : p.loader) +
               "): run scripts/setup" + (preset == "win32" ? " --wine32" : "");
    }
    if (preset == "win32") {
        // The 32-bit loader is an i386 program; on this machine it runs only through qemu.
        std::ifstream registered("/proc/sys/fs/binfmt_misc/qemu-i386");
        std::string first;
        std::getline(registered, first);
        std::ifstream own("/proc/sys/fs/binfmt_misc/status");
        std::string status;
        std::getline(own, status);
        if (first != "enabled" || status != "enabled") {
            return "i386 programs cannot start here: no enabled qemu-i386 entry in "
                   "/proc/sys/fs/binfmt_misc (run scripts/setup --wine32)";
        }
    }
    return "";
}

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
    p.name = preset;
    if (preset == "win32") {
        p.loader = WINE32_LOADER;
        p.bin = WIN32_BIN_DIR;
        p.arch = "win32";
    } else {
        p.loader = WINE64_LOADER;
        p.bin = WIN64_BIN_DIR;
        p.arch = "win64";
    }
    p.prefix = winetest::WorkFolder("prefix-" + preset);
    const std::string reason = Unavailable(p, preset);
    if (!reason.empty()) {
        std::printf("SKIPPED: %s\n", reason.c_str());
        return kSkipped;
    }
    const std::string failure = winetest::PreparePrefix(p);
    if (!failure.empty()) {
        std::printf("%s%s\n", preset == "win32" ? "SKIPPED: " : "FAILED: ", failure.c_str());
        // 64-bit Wine is part of the set-up, so a prefix it cannot make is a fault here; the
        // emulated 32-bit one is optional.
        return preset == "win32" ? kSkipped : 1;
    }
    return RUN_ALL_TESTS();
}
