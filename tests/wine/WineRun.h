// Runs the preview command natively and as a Windows program under Wine, each in a folder of
// its own, and reads back what it wrote.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace winetest {

struct Platform {
    std::string name;   // "linux", "win64", "win32"
    std::string loader; // the Wine loader; empty for the native preview
    std::string bin;    // the folder of wavepreview and the module library
    std::string prefix; // the Wine prefix, made on first use
};

// The Windows build of a preset ("win64", "win32") and the Wine loader that runs it.
Platform WindowsPlatform(const std::string& preset);

// The platform that main() chose and made ready, and the native one to hold it against.
Platform& Windows();
Platform& Native();

// Why the platform cannot run here (its build or its Wine is missing, or the machine cannot
// start i386 programs), or an empty string.
std::string Unavailable(const Platform& platform);

// Makes the prefix once, safe against other processes doing the same. Returns an empty string,
// or why Wine could not be started.
std::string PreparePrefix(const Platform& platform);

struct Outcome {
    int status = -1;
    std::string output; // stdout and stderr together
    double seconds = 0;
};

// Runs one of the platform's programs ("wavepreview", "capture_digest") with the arguments (each
// passed as one word) in folder, which is made anew.
Outcome RunProgram(const Platform& platform, const std::string& program,
                   const std::vector<std::string>& arguments, const std::string& folder);
inline Outcome RunPreview(const Platform& platform, const std::vector<std::string>& arguments,
                          const std::string& folder) {
    return RunProgram(platform, "wavepreview", arguments, folder);
}

// The platform's module library.
std::string ModuleFile(const Platform& platform);

std::string ReadFile(const std::string& path);

// A PNG as premultiplied 0xAARRGGBB pixels, row by row; empty when it cannot be read.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
    uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
    bool operator==(const Picture& o) const {
        return width == o.width && height == o.height && pixels == o.pixels;
    }
};
Picture ReadPng(const std::string& path);
bool WritePng(const Picture& picture, const std::string& path);

// The folder under the build tree where this run keeps its files.
std::string WorkFolder(const std::string& name);

} // namespace winetest
