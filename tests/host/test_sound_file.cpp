// The preview's sound files: read in large pieces, handed out in blocks of any size.
#include "Signal.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <string>
#include <vector>

namespace {

constexpr int kChannels = 3;
constexpr int64_t kFrames = 40000; // more than two of the reader's pieces

float Sample(int64_t frame, int channel) {
    return static_cast<float>((frame * 7 + channel * 131) % 2000 - 1000) / 1024.0f;
}

std::string WriteFile() {
    const std::string path = testing::TempDir() + "/sound_file_test.wav";
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = kChannels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    std::vector<float> frames;
    for (int64_t f = 0; f < kFrames; ++f) {
        for (int c = 0; c < kChannels; ++c) {
            frames.push_back(Sample(f, c));
        }
    }
    sf_writef_float(file, frames.data(), kFrames);
    sf_close(file);
    return path;
}

// Everything the signal gives, asked for in blocks of the given sizes in turn.
std::vector<float> ReadAll(preview::Signal& signal, const std::vector<int64_t>& blocks) {
    std::vector<float> all;
    std::vector<float> block(20000);
    for (std::size_t i = 0;; ++i) {
        const int64_t want = blocks[i % blocks.size()];
        const int64_t got = signal.Read(block.data(), want);
        EXPECT_LE(got, want);
        if (got == 0) {
            return all;
        }
        all.insert(all.end(), block.begin(), block.begin() + got);
    }
}

} // namespace

TEST(SoundFile, BlocksOfAnySizeGiveEverySampleOnceInOrder) {
    const std::string path = WriteFile();
    const std::vector<int64_t> blocks = {1, 7, 300, 16384, 20000, 255};
    for (int channel = 0; channel <= kChannels; ++channel) {
        const auto signal = preview::OpenSoundFile(path, channel, -1);
        EXPECT_EQ(signal->Length(), kFrames);
        const std::vector<float> samples = ReadAll(*signal, blocks);
        ASSERT_EQ(static_cast<int64_t>(samples.size()), kFrames) << "channel " << channel;
        for (int64_t f = 0; f < kFrames; ++f) {
            float expected = 0.0f;
            if (channel > 0) {
                expected = Sample(f, channel - 1);
            } else {
                for (int c = 0; c < kChannels; ++c) {
                    expected += Sample(f, c);
                }
                expected /= kChannels;
            }
            ASSERT_EQ(samples[f], expected) << "channel " << channel << " frame " << f;
        }
    }
    // A shorter length stops the reading there, even in the middle of a piece.
    const auto cut = preview::OpenSoundFile(path, 1, 16390);
    const std::vector<float> samples = ReadAll(*cut, {4096});
    ASSERT_EQ(samples.size(), 16390u);
    EXPECT_EQ(samples.back(), Sample(16389, 0));
}
