// The stereo plug-in's mix of its two inputs: sample for sample the mean that
// sehost::MeanOfChannels takes, so that the display sees what the preview's mix of the same pair
// shows. A routine may also copy the pairs to the outputs on the same pass, while they are at hand.
#pragma once

#include <cstdint>
#include <vector>

namespace lv2dsp {

// Writes the mean of count pairs of left and right into mix; when out_left is not null, also
// copies left to out_left and right to out_right. No output may overlap an input.
using PairMixRoutine = void (*)(const float* left, const float* right, float* mix, float* out_left,
                                float* out_right, int32_t count);

// The routines this processor runs, the fastest first: the plug-in takes that one.
std::vector<PairMixRoutine> PairMixRoutines();

} // namespace lv2dsp
