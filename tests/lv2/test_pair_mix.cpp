// Every mix routine this processor runs gives, bit for bit, the mean the preview takes of the same
// pair, copies the pairs when asked, and writes nothing beyond the run.
#include "ChannelMean.h"
#include "PairMix.h"
#include "PlugTable.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <vector>

namespace {

using sehost::FloatBits;

TEST(PairMix, EveryRoutineMatchesThePreviewsMeanAndCopiesThePairs) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float specials[] = {-0.0f, 0.0f, nan, inf, -inf, FLT_MAX, -FLT_MAX, FLT_TRUE_MIN, 1.0f};
    // Every special value against every other, then plain ones.
    constexpr int kSize = 100;
    std::vector<float> left(kSize), right(kSize);
    for (int i = 0; i < kSize; ++i) {
        left[i] = i < 81 ? specials[i % 9] : std::sin(0.3f * static_cast<float>(i));
        right[i] = i < 81 ? specials[i / 9] : std::cos(0.7f * static_cast<float>(i));
    }
    const float guard = 12345.0f;
    for (const lv2dsp::PairMixRoutine mix_pairs : lv2dsp::PairMixRoutines()) {
        for (bool copy : {false, true}) {
            for (int first : {0, 1, 3}) { // misaligned starts as well
                for (int count = 0; first + count < kSize; ++count) {
                    std::vector<float> mix(kSize, guard), out_left(kSize, guard),
                        out_right(kSize, guard);
                    mix_pairs(&left[first], &right[first], mix.data(),
                              copy ? out_left.data() : nullptr, out_right.data(), count);
                    for (int i = 0; i < kSize; ++i) {
                        const int at = first + i;
                        const bool in_run = i < count;
                        const float mean =
                            in_run ? sehost::MeanOfChannels(
                                         2, [&](int c) { return c == 0 ? left[at] : right[at]; })
                                   : guard;
                        ASSERT_EQ(FloatBits(mix[i]), FloatBits(mean)) << at << " of " << count;
                        ASSERT_EQ(FloatBits(out_left[i]),
                                  FloatBits(in_run && copy ? left[at] : guard));
                        ASSERT_EQ(FloatBits(out_right[i]),
                                  FloatBits(in_run && copy ? right[at] : guard));
                    }
                }
            }
        }
    }
}

} // namespace
