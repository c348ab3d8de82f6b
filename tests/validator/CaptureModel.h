// An independent model of the audio side's capture: given what a host writes into the plug
// variables, the pin-status changes it announces and the blocks it runs, it says which display
// messages the module must send and what they must hold. The validator and the fuzzers compare
// the module against it.
#pragma once

#include <cstdint>
#include <vector>

namespace validator {

constexpr int32_t kFrameLength = 800;

// A peak message as the model expects it: the envelope of its period (max >= 0 >= min, each
// taken with 0.0) and whether every sample of the period was small and finite enough for the
// message's fields to be checked against it.
struct ExpectedPeak {
    float max = 0.0f;
    float min = 0.0f;
    bool checkable = false;
};

// What one call of the process routine must send.
struct Expectation {
    bool idle = false; // one AUDIO_RQ_IDLE and nothing else
    std::vector<ExpectedPeak> peaks;
    bool frame = false;
    float frame_samples[kFrameLength] = {}; // the sample behind each byte of the frame

    void Clear() {
        idle = false;
        peaks.clear();
        frame = false;
    }
};

class CaptureModel {
public:
    CaptureModel();

    // The audio side's open at a sample rate; every instance's open sets the samples per
    // millisecond that all instances use for their next change of display type.
    void Open(float sample_rate);
    // A pin-status event for the display type pin (the only one the capture listens to).
    void DisplayTypeChanged();
    // AUDIO_OP_GUI_NOTIFY.
    void GuiNotify() { m_capture_state = 1; }

    // The host writes these plug variables.
    void SetDisplayType(int16_t type) { m_display_type = type; }
    void SetActive(int16_t active) { m_active = active; }
    // The module writes Active itself (HOLD to OFF); the host reads it back through its variable.
    int16_t Active() const { return m_active; }
    int16_t DisplayType() const { return m_display_type; }
    int32_t FrameLength() const { return m_frame_length; }
    int32_t CaptureState() const { return m_capture_state; }

    // One block: input null when the input variable holds no buffer.
    void Process(const float* input, int32_t count, Expectation& out);

    static float SamplesPerMillisecond() { return s_samples_per_ms; }
    // Back to the state of a fresh process (the fuzzers start every input from it).
    static void ResetShared() { s_samples_per_ms = 44.1f; }

private:
    void ProcessPeaks(const float* input, int32_t count, Expectation& out);
    void ProcessFrame(const float* input, int32_t count, Expectation& out);

    static float s_samples_per_ms;

    int16_t m_display_type = 0;
    int16_t m_active = 0;
    float m_period_min = 0.0f;
    float m_period_max = 0.0f;
    bool m_period_checkable = true;
    int32_t m_capture_state = 1;
    int32_t m_write_index = 0;
    int32_t m_countdown = 44;
    int32_t m_frame_length = 44;
    int32_t m_previous_bits = 0;
    float m_frame[kFrameLength];
};

// True when the byte is the low 8 bits of round(120 x + 128), for samples whose byte can be
// checked (finite and within +-64, so that the arithmetic is exact); at an exact half either
// neighbour is taken. Other samples match any byte.
bool FrameByteMatches(float x, uint8_t byte);

// True when a peak value is read as a peak (top byte 0xFF) and, for a checkable period, decodes
// to within 1/128 of its envelope.
bool PeakMatches(int32_t value, const ExpectedPeak& expected);

// The byte a checkable sample must give (the lower neighbour at an exact half).
uint8_t ExpectedFrameByte(float x);

} // namespace validator
