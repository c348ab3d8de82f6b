// The conversation between the two halves, relayed by the host: two display messages from the
// audio side to the GUI side, and one reply back.
//
// Frame message: index 800, value 0, pointer to 800 bytes, one per sample, byte = low 8 bits of
// round(120 x + 128). Peak message: index 0, pointer null, value 0xFF000000 + (H << 8) + L with
// H = round(128 max) and L = round(128 |min|). The receiver tells them apart by the top byte.
// Frame-read reply: value kFrameReadReply, index 0, pointer null.
//
// The hand-shake: a frame message lends the GUI side the audio side's own frame buffer, so after
// sending one the audio side captures nothing more until the GUI side has read it. The GUI side
// answers every frame message, whatever it did with the bytes, with the frame-read reply; the
// audio side takes any notification as that reply (it is the only one the GUI side sends) and
// arms the capture of the next frame. Peak messages carry their value whole and need no reply.
#pragma once

#include <cmath>
#include <cstdint>

namespace display_message {

constexpr int32_t kFrameBytes = 800;
constexpr uint32_t kPeakTag = 0xFF000000u;
constexpr int32_t kFrameReadReply = -1;

// One sample as a frame byte. Samples beyond about +-1.06 wrap around, as the byte form has
// always done; a value with no low bits (infinity) shows as full scale, and NaN as silence.
inline uint8_t EncodeFrameSample(float x) {
    // round(120 x + 128), rounding halves up, formed in double.
    const double v = 120.0 * static_cast<double>(x) + 128.0 + 0.5;
    if (v > -1.0e9 && v < 1.0e9) {           // the common case; false for NaN
        int32_t t = static_cast<int32_t>(v); // toward zero, then down to the floor
        t -= static_cast<double>(t) > v ? 1 : 0;
        return static_cast<uint8_t>(static_cast<uint32_t>(t) & 0xFFu);
    }
    if (std::isnan(x)) {
        return 128;
    }
    if (std::isinf(x)) {
        return x > 0 ? 248 : 8;
    }
    // fmod is exact, so the low 8 bits of huge values are right too.
    double low = std::fmod(std::floor(v), 256.0);
    if (low < 0) {
        low += 256.0;
    }
    return static_cast<uint8_t>(low);
}

// A frame byte back as a sample value: (b - 128) / 120.
inline float DecodeFrameByte(uint8_t b) {
    return static_cast<float>((static_cast<int>(b) - 128) / 120.0);
}

// One peak field: round(128 |v|), held to the 8 bits the field has so that nothing carries
// into the neighbouring field or the message's tag byte.
inline uint32_t PeakField(float magnitude) {
    const double scaled = std::floor(128.0 * std::fabs(static_cast<double>(magnitude)) + 0.5);
    if (!(scaled < 255.0)) { // also catches NaN and infinity
        return std::isnan(scaled) ? 0u : 255u;
    }
    return static_cast<uint32_t>(scaled);
}

// The peak value for a period whose largest sample is max and smallest is min (max >= 0 >= min).
inline int32_t EncodePeak(float max, float min) {
    const uint32_t value = kPeakTag + (PeakField(max) << 8) + PeakField(min);
    return static_cast<int32_t>(value);
}

// Values below 0x01000000 (unsigned) are frame messages; everything else is a peak.
inline bool IsPeakMessage(int32_t value) {
    return (static_cast<uint32_t>(value) & 0xFF000000u) != 0;
}

inline float PeakUpper(int32_t value) {
    return static_cast<float>((static_cast<uint32_t>(value) >> 8) & 0xFFu) * 0.0078125f;
}

inline float PeakLower(int32_t value) {
    return static_cast<float>(static_cast<uint32_t>(value) & 0xFFu) * -0.0078125f;
}

} // namespace display_message
