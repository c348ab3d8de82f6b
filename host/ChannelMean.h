// How the display shows a signal of several channels: their mean, sample by sample.
#pragma once

namespace sehost {

// The mean of one frame's channels: summed in channel order from zero, then divided by their
// number. The preview's mix of a sound file and the stereo plug-in's mix of its two inputs both
// come from here, so that the same pair of channels gives the display the same samples.
template <typename SampleOf> inline float MeanOfChannels(int channels, SampleOf sample_of) {
    float sum = 0.0f;
    for (int c = 0; c < channels; ++c) {
        sum += sample_of(c);
    }
    return sum / static_cast<float>(channels);
}

} // namespace sehost
