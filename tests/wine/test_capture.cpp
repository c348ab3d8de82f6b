// The Windows DLL's audio side against Module.so's: signals that stress the capture arithmetic,
// at many rates and in every display type, must send the view the same frames and peaks (see
// capture/capture_digest.cpp). Where the 32-bit build's x87 arithmetic parted from the SSE2 of
// the others, a frame byte or a peak would differ here.
#include "WineRun.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace winetest;

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back(); // a Windows program's text output
        }
        lines.push_back(line);
    }
    return lines;
}

TEST(Capture, WindowsModuleSendsWhatTheLinuxOneSends) {
    std::vector<std::string> printed[2];
    int k = 0;
    for (const Platform* p : {&Native(), &Windows()}) {
        const Outcome o = RunProgram(*p, "capture_digest", {ModuleFile(*p)},
                                     WorkFolder(Windows().name + "-capture/" + p->name));
        ASSERT_EQ(o.status, 0) << p->name << ": " << o.output;
        std::printf("[ capture  ] %s: %.2f s\n", p->name.c_str(), o.seconds);
        printed[k++] = Lines(o.output);
    }
    ASSERT_GT(printed[0].size(), 500u);
    ASSERT_EQ(printed[0].size(), printed[1].size());
    size_t differing = 0;
    for (size_t i = 0; i < printed[0].size(); ++i) {
        if (printed[0][i] != printed[1][i] && ++differing <= 5) {
            ADD_FAILURE() << "linux:   " << printed[0][i] << "\n"
                          << Windows().name << ":   " << printed[1][i];
        }
    }
    std::printf("[ capture  ] %zu of %zu cases differ\n", differing, printed[0].size());
}

} // namespace
