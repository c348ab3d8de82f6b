// The display module's end-to-end scenarios, run by the Windows preview with the Windows module
// under Wine and by the Linux preview with Module.so: what the host relayed must be the same
// line for line, and each platform's pictures must show the scenario.
#include "WineRun.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

using namespace winetest;

namespace {

constexpr int kRate = 48000;

struct LogLine {
    long long clock;
    std::string kind;
    int index;
    int value;
};

std::vector<LogLine> ParseLog(const std::string& text) {
    std::vector<LogLine> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        LogLine l{};
        char kind[32] = {0};
        if (std::sscanf(line.c_str(), "%lld %31s %d %d", &l.clock, kind, &l.index, &l.value) == 4) {
            l.kind = kind;
            lines.push_back(l);
        }
    }
    return lines;
}

long long Count(const std::vector<LogLine>& log, const std::string& kind, long long from,
                long long to) {
    long long n = 0;
    for (const LogLine& l : log) {
        n += l.kind == kind && l.clock >= from && l.clock < to;
    }
    return n;
}

// The clock of every paint, in the order of the series files.
std::vector<long long> PaintClocks(const std::vector<LogLine>& log) {
    std::vector<long long> clocks;
    for (const LogLine& l : log) {
        if (l.kind == "paint") {
            clocks.push_back(l.clock);
        }
    }
    return clocks;
}

Picture SeriesPicture(const std::string& folder, size_t number) {
    char name[64];
    std::snprintf(name, sizeof name, "/paint-%05zu.png", number);
    return ReadPng(folder + name);
}

size_t Lit(const Picture& p) {
    size_t lit = 0;
    for (uint32_t v : p.pixels) {
        lit += v != p.pixels[0];
    }
    return lit;
}

int RightmostMark(const Picture& p) {
    for (int x = p.width - 1; x >= 0; --x) {
        for (int y = 0; y < p.height; ++y) {
            if ((y < p.height / 2 - 2 || y > p.height / 2 + 2) && p.At(x, y) != p.pixels[0]) {
                return x;
            }
        }
    }
    return -1;
}

struct PlatformRun {
    std::string folder;
    std::string log_text;
    std::vector<LogLine> log;
};

// Runs the scenario on both platforms; each platform's run is handed to check.
class Scenario : public ::testing::Test {
protected:
    std::vector<PlatformRun> RunBoth(const std::string& name, std::vector<std::string> arguments) {
        arguments.insert(arguments.end(),
                         {"-q", "--size", "200x60", "--log", "relay.log", "--series", "paint-"});
        std::vector<PlatformRun> runs;
        for (const Platform* p : {&Native(), &Windows()}) {
            PlatformRun run;
            run.folder = WorkFolder(Windows().name + "-scenarios/" + name + "-" + p->name);
            const Outcome o = RunPreview(*p, arguments, run.folder);
            EXPECT_EQ(o.status, 0) << p->name << ": " << o.output;
            std::printf("[ wine     ] %s on %s: %.2f s\n", name.c_str(), p->name.c_str(),
                        o.seconds);
            run.log_text = ReadFile(run.folder + "/relay.log");
            run.log = ParseLog(run.log_text);
            runs.push_back(run);
        }
        EXPECT_FALSE(runs[0].log.empty());
        EXPECT_EQ(runs[0].log_text, runs[1].log_text)
            << "the Windows module relayed differently; compare " << runs[0].folder
            << "/relay.log with " << runs[1].folder << "/relay.log";
        return runs;
    }
};

TEST_F(Scenario, FramesKeepComingAsLongAsAudioRuns) {
    for (const PlatformRun& run :
         RunBoth("frames", {"--set", "Display Type=Sample", "--duration", "3"})) {
        const long long first = Count(run.log, "receive", 0, kRate);
        const long long last = Count(run.log, "receive", 2 * kRate, 3 * kRate);
        EXPECT_GE(first, 20) << run.folder;
        EXPECT_GE(last, first - 1) << run.folder;
        EXPECT_EQ(Count(run.log, "notify", 0, 3 * kRate), Count(run.log, "receive", 0, 3 * kRate));
        EXPECT_GE(Count(run.log, "paint", 0, 3 * kRate + 1), 89) << run.folder;
    }
}

TEST_F(Scenario, SyncedSnapshotsStandStillAndFreeOnesDoNot) {
    const auto runs = RunBoth("sync", {"--set", "Display Type=Sample Sync", "--at",
                                       "1.0:Display Type=Sample", "--duration", "1.5"});
    for (const PlatformRun& run : runs) {
        const auto clocks = PaintClocks(run.log);
        std::vector<Picture> synced;
        std::vector<Picture> free;
        for (size_t k = 0; k < clocks.size(); ++k) {
            if (clocks[k] >= kRate / 4 && clocks[k] < kRate) {
                synced.push_back(SeriesPicture(run.folder, k + 1));
            } else if (clocks[k] >= kRate + kRate / 10) {
                free.push_back(SeriesPicture(run.folder, k + 1));
            }
        }
        ASSERT_GE(synced.size(), 10u) << run.folder;
        ASSERT_GE(free.size(), 3u) << run.folder;
        EXPECT_GT(Lit(synced[0]), 200u) << run.folder;
        for (const Picture& p : synced) {
            EXPECT_EQ(p, synced[0]) << run.folder;
        }
        bool differ = false;
        for (size_t k = 1; k < free.size(); ++k) {
            differ = differ || !(free[k] == free[k - 1]);
        }
        EXPECT_TRUE(differ) << run.folder;
    }
}

TEST_F(Scenario, PeakPictureMovesLeftAsTimePasses) {
    // The demo's last hit comes at 4.25 s and silence follows from 4.5 s.
    const auto runs = RunBoth("peak", {"--set", "Display Type=10ms", "--duration", "4.9"});
    int marks[2][2] = {{-1, -1}, {-1, -1}};
    for (size_t r = 0; r < runs.size(); ++r) {
        const auto clocks = PaintClocks(runs[r].log);
        for (size_t k = 0; k < clocks.size(); ++k) {
            if (clocks[k] == kRate * 46 / 10) {
                marks[r][0] = RightmostMark(SeriesPicture(runs[r].folder, k + 1));
            } else if (clocks[k] == kRate * 49 / 10) {
                marks[r][1] = RightmostMark(SeriesPicture(runs[r].folder, k + 1));
            }
        }
        ASSERT_GE(marks[r][1], 0) << runs[r].folder << ": no burst in view";
        // 300 ms at 10 ms a column.
        EXPECT_NEAR(marks[r][0] - marks[r][1], 30, 1) << runs[r].folder;
    }
    EXPECT_NEAR(marks[0][0], marks[1][0], 1);
}

TEST_F(Scenario, HoldFreezesThePictureAndOffClearsIt) {
    const auto runs = RunBoth("hold", {"--set", "Display Type=10ms", "--at", "1.0:Active=HOLD",
                                       "--at", "1.5:Active=OFF", "--duration", "2"});
    for (const PlatformRun& run : runs) {
        // Held: the period under way ends, then nothing more comes from the audio side.
        EXPECT_GE(Count(run.log, "receive", kRate / 2, kRate), 45) << run.folder;
        EXPECT_EQ(Count(run.log, "receive", kRate + kRate / 50, 2 * kRate), 0) << run.folder;
        const auto clocks = PaintClocks(run.log);
        ASSERT_FALSE(clocks.empty());
        size_t last_held = 0;
        for (size_t k = 0; k < clocks.size(); ++k) {
            if (clocks[k] < kRate * 3 / 2) {
                last_held = k;
            }
        }
        ASSERT_GT(clocks.size(), last_held + 1) << run.folder << ": no paint after OFF";
        const Picture held = SeriesPicture(run.folder, last_held + 1);
        EXPECT_GT(Lit(held), 200u) << run.folder;
        for (size_t k = 0; k < last_held; ++k) {
            if (clocks[k] >= kRate + kRate / 20) {
                EXPECT_EQ(SeriesPicture(run.folder, k + 1), held) << run.folder << " paint " << k;
            }
        }
        EXPECT_EQ(Lit(SeriesPicture(run.folder, clocks.size())), 0u) << run.folder;
    }
}

} // namespace
