// How close the Cairo drawing layer comes to GDI+: the same paint drawn by the Linux preview and
// by the Windows preview under Wine, whose GDI+ draws everything aliased with pixel centres on
// whole coordinates and puts gradient positions on 256 steps. Aliased styles are compared pixel
// for pixel; smoothed ones outside a one-pixel band around the edges of Wine's picture, where
// anti-aliasing and the half-pixel offset must differ. Writes the pictures side by side.
#include "WineRun.h"

#include <gtest/gtest.h>

#include <cairo.h>

#include <algorithm>
#include <cstdlib>
#include <map>

using namespace winetest;

namespace {

// A pixel matches when every channel lies within this many 1/255 steps.
constexpr int kTolerance = 2;
// Neighbours further apart than this in some channel make an edge (gradient steps are smaller).
constexpr int kEdgeStep = 24;

// The shares reached, held so that a change that draws further from GDI+ shows. Lines match
// exactly, and so do aliased fills: both take a pixel when its centre lies inside. Smoothed fills
// lose a few pixels beyond the edge band.
constexpr double kLines = 0.999;
constexpr double kAliasedFills = 1.0;
constexpr double kFills = 0.995;
// Between two colours of different alpha Wine weights each colour by its alpha (premultiplied
// interpolation) while the layer interpolates the components and alpha apart, so the ramp's
// middle differs by a few steps over the whole fill.
constexpr double kUnequalAlphas = 0.80;

struct Case {
    const char* name;
    bool smoothed;
    double least_matching; // the share of compared pixels that must match
    std::vector<std::string> arguments;
};

const std::vector<std::string> kColours = {
    "--color", "Background=#101828", "--color",   "Waveform=#8CE0FF",
    "--color", "Shading=#2050A0",    "--shading", "100,60"};

std::vector<Case> Cases() {
    const std::vector<std::string> snapshot = {"--set", "Display Type=Sample Sync", "--duration",
                                               "1"};
    const std::vector<std::string> envelope = {"--set", "Display Type=10ms", "--duration", "4.6"};
    const auto with = [](std::vector<std::string> a, std::initializer_list<std::string> more) {
        a.insert(a.end(), more);
        return a;
    };
    return {
        {"snapshot, Line", false, kLines, with(snapshot, {"--set", "GUI_FX_Mode=Line"})},
        {"snapshot, Solid", false, kAliasedFills, with(snapshot, {"--set", "GUI_FX_Mode=Solid"})},
        {"snapshot, Line+Smooth", true, kLines,
         with(snapshot, {"--set", "GUI_FX_Mode=Line+Smooth"})},
        {"snapshot, Solid+Smooth", true, kFills,
         with(snapshot, {"--set", "GUI_FX_Mode=Solid+Smooth"})},
        {"envelope, Line", false, kLines, with(envelope, {"--set", "GUI_FX_Mode=Line"})},
        {"envelope, Solid", false, kAliasedFills, with(envelope, {"--set", "GUI_FX_Mode=Solid"})},
        {"envelope, Line+Smooth", true, kLines,
         with(envelope, {"--set", "GUI_FX_Mode=Line+Smooth"})},
        {"envelope, Solid+Smooth", true, kFills,
         with(envelope, {"--set", "GUI_FX_Mode=Solid+Smooth"})},
        {"partial alpha, Solid", false, kAliasedFills,
         with(envelope, {"--set", "GUI_FX_Mode=Solid", "--blend", "Waveform=160", "--blend",
                         "Shading=160", "--blend", "Background=200"})},
        {"unequal alphas, Solid", false, kUnequalAlphas,
         with(envelope,
              {"--set", "GUI_FX_Mode=Solid", "--blend", "Waveform=160", "--blend", "Shading=96"})},
        {"partial alpha, Line", false, kLines,
         with(envelope, {"--set", "GUI_FX_Mode=Line", "--blend", "Waveform=128"})},
        {"background off, Solid+Smooth", true, kFills,
         with(envelope, {"--set", "GUI_FX_Mode=Solid+Smooth", "--set", "Background Red=-1"})},
        {"bands 30%,40%, Solid", false, kAliasedFills,
         with(envelope, {"--set", "GUI_FX_Mode=Solid", "--shading", "30,40"})},
        {"bands 25%,60%, Solid+Smooth", true, kFills,
         with(snapshot, {"--set", "GUI_FX_Mode=Solid+Smooth", "--shading", "25,60"})},
        {"zero-length gradient, Solid", false, 1.0,
         with(envelope, {"--set", "GUI_FX_Mode=Solid", "--shading", "0,0"})},
    };
}

int Channel(uint32_t p, int k) {
    return static_cast<int>((p >> (8 * k)) & 0xFF);
}

int Distance(uint32_t a, uint32_t b) {
    int d = 0;
    for (int k = 0; k < 4; ++k) {
        d = std::max(d, std::abs(Channel(a, k) - Channel(b, k)));
    }
    return d;
}

// Pixels next to an edge of the picture: within one pixel of two neighbours that differ a lot.
std::vector<bool> EdgeBand(const Picture& p) {
    std::vector<bool> edge(p.pixels.size(), false);
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            const bool right = x + 1 < p.width && Distance(p.At(x, y), p.At(x + 1, y)) > kEdgeStep;
            const bool down = y + 1 < p.height && Distance(p.At(x, y), p.At(x, y + 1)) > kEdgeStep;
            if (right || down) {
                for (int dy = -1; dy <= 2; ++dy) {
                    for (int dx = -1; dx <= 2; ++dx) {
                        const int u = x + dx;
                        const int v = y + dy;
                        if (u >= 0 && v >= 0 && u < p.width && v < p.height) {
                            edge[static_cast<size_t>(v) * p.width + u] = true;
                        }
                    }
                }
            }
        }
    }
    return edge;
}

struct Figures {
    size_t compared = 0;
    size_t matching = 0;
    size_t banded = 0;
    int worst = 0;
    std::vector<uint8_t> verdict; // per pixel: 0 matches, 1 differs, 2 left out (edge band)
};

Figures Compare(const Picture& cairo, const Picture& wine, bool smoothed) {
    Figures f;
    const std::vector<bool> band =
        smoothed ? EdgeBand(wine) : std::vector<bool>(wine.pixels.size(), false);
    f.verdict.assign(wine.pixels.size(), 0);
    for (size_t i = 0; i < wine.pixels.size(); ++i) {
        if (band[i]) {
            ++f.banded;
            f.verdict[i] = 2;
            continue;
        }
        const int d = Distance(cairo.pixels[i], wine.pixels[i]);
        ++f.compared;
        f.worst = std::max(f.worst, d);
        if (d <= kTolerance) {
            ++f.matching;
        } else {
            f.verdict[i] = 1;
        }
    }
    return f;
}

// Rows of Cairo's picture, Wine's picture and the verdict map, one row per case.
class SideBySide {
public:
    void Add(const Picture& cairo, const Picture& wine, const Figures& f) {
        Picture map = wine;
        for (size_t i = 0; i < map.pixels.size(); ++i) {
            static const uint32_t kShades[] = {0xFF202020, 0xFFFF3030, 0xFF606060};
            map.pixels[i] = kShades[f.verdict[i]];
        }
        m_rows.push_back({cairo, wine, map});
    }
    void Write(const std::string& path) const {
        if (m_rows.empty()) {
            return;
        }
        const int w = m_rows[0][0].width;
        const int h = m_rows[0][0].height;
        constexpr int kGap = 4;
        Picture sheet;
        sheet.width = 3 * w + 2 * kGap;
        sheet.height = static_cast<int>(m_rows.size()) * (h + kGap) - kGap;
        sheet.pixels.assign(static_cast<size_t>(sheet.width) * sheet.height, 0xFFFFFFFF);
        for (size_t r = 0; r < m_rows.size(); ++r) {
            for (int c = 0; c < 3; ++c) {
                const Picture& p = m_rows[r][c];
                for (int y = 0; y < h; ++y) {
                    for (int x = 0; x < w; ++x) {
                        sheet.pixels[(r * (h + kGap) + y) * sheet.width + c * (w + kGap) + x] =
                            p.At(x, y);
                    }
                }
            }
        }
        WritePng(sheet, path);
    }

private:
    std::vector<std::vector<Picture>> m_rows;
};

// Paints the case on one platform at 300x80 and reads the picture back. Each is painted once
// per program: the emulated 32-bit preview takes seconds a run.
Picture Paint(const Case& c, int number, const Platform& p) {
    static std::map<std::string, Picture> painted;
    const std::string folder =
        WorkFolder(Windows().name + "-fidelity/" + std::to_string(number) + "-" + p.name);
    if (painted.count(folder) == 0) {
        std::vector<std::string> arguments = c.arguments;
        arguments.insert(arguments.begin(), kColours.begin(), kColours.end());
        arguments.insert(arguments.end(), {"-q", "--size", "300x80", "-o", "view.png"});
        const Outcome o = RunPreview(p, arguments, folder);
        EXPECT_EQ(o.status, 0) << c.name << " on " << p.name << ": " << o.output;
        painted[folder] = ReadPng(folder + "/view.png");
    }
    EXPECT_EQ(painted[folder].width, 300) << c.name << " on " << p.name;
    return painted[folder];
}

TEST(Fidelity, CairoLayerMatchesWinesGdiPlus) {
    SideBySide sheet;
    int number = 0;
    for (const Case& c : Cases()) {
        ++number;
        const Picture cairo = Paint(c, number, Native());
        const Picture wine = Paint(c, number, Windows());
        ASSERT_FALSE(HasFailure());
        const Figures f = Compare(cairo, wine, c.smoothed);
        const double share = static_cast<double>(f.matching) / static_cast<double>(f.compared);
        std::printf("[ fidelity ] %-30s %7.3f%% of %5zu pixels within %d/255, worst %3d, "
                    "%5zu in the edge band\n",
                    c.name, 100.0 * share, f.compared, kTolerance, f.worst, f.banded);
        EXPECT_GE(share, c.least_matching) << c.name;
        sheet.Add(cairo, wine, f);
    }
    const std::string path =
        Windows().name == "win64" ? FIDELITY_PICTURE : WorkFolder(Windows().name + "-fidelity.png");
    sheet.Write(path);
    std::printf("[ fidelity ] side by side (Cairo, Wine's GDI+, differences): %s\n", path.c_str());
}

// The 32-bit DLL against the 64-bit one, both painted by Wine's GDI+. Both make the same GDI+
// calls, so lines come out alike pixel for pixel. Gradients differ in a few pixels by one step:
// where a pixel's place along the gradient falls on the boundary of two of GDI+'s colour steps,
// Wine's own 32-bit GDI+ (x87 arithmetic) and its 64-bit one (SSE2) round it apart. A point or
// colour that the DLL itself computed differently would move whole edges or ramps instead.
TEST(Bitness, ThirtyTwoBitPicturesMatchSixtyFourBit) {
    const Platform wide = WindowsPlatform("win64");
    const std::string reason = Unavailable(wide);
    if (!reason.empty()) {
        GTEST_SKIP() << reason;
    }
    int number = 0;
    for (const Case& c : Cases()) {
        ++number;
        const Picture narrow = Paint(c, number, Windows());
        const Picture broad = Paint(c, number, wide);
        ASSERT_FALSE(HasFailure());
        size_t differing = 0;
        int worst = 0;
        for (size_t i = 0; i < narrow.pixels.size(); ++i) {
            const int d = Distance(narrow.pixels[i], broad.pixels[i]);
            differing += d != 0;
            worst = std::max(worst, d);
        }
        std::printf("[ bitness  ] %-30s %5zu of %5zu pixels differ, worst %3d\n", c.name, differing,
                    narrow.pixels.size(), worst);
        const bool gradient = std::find(c.arguments.begin(), c.arguments.end(),
                                        "GUI_FX_Mode=Line") == c.arguments.end();
        EXPECT_LE(differing, gradient ? narrow.pixels.size() / 1000 : 0) << c.name;
        EXPECT_LE(worst, gradient ? 1 : 0) << c.name;
    }
}

} // namespace
