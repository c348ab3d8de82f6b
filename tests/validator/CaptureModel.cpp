#include "CaptureModel.h"

#include <cmath>
#include <cstring>

namespace validator {

namespace {

const int32_t kPeriodMilliseconds[10] = {1, 2, 5, 10, 20, 40, 60, 80, 100, 200};

// Beyond this the fields of a peak message can no longer hold the envelope.
constexpr float kPeakCheckLimit = 1.99f;
// Beyond this a frame byte is not checked: 120 x + 128 must stay exact in double.
constexpr float kFrameCheckLimit = 64.0f;

int32_t Bits(float x) {
    int32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

} // namespace

float CaptureModel::s_samples_per_ms = 44.1f;

CaptureModel::CaptureModel() {
    for (float& x : m_frame) {
        x = 0.0f;
    }
}

void CaptureModel::Open(float sample_rate) {
    s_samples_per_ms =
        static_cast<float>(static_cast<long double>(sample_rate) * static_cast<long double>(0.001));
    m_period_min = 0.0f;
    m_period_max = 0.0f;
    m_period_checkable = true;
    m_capture_state = 1;
    m_frame_length = 44;
    m_countdown = 44;
    m_write_index = 0;
    for (float& x : m_frame) {
        x = 0.0f; // silence, byte 128
    }
}

void CaptureModel::DisplayTypeChanged() {
    const int32_t type = m_display_type;
    if (type == -1 || type == 0) {
        m_frame_length = kFrameLength;
        m_capture_state = 1;
    } else if (type >= 1 && type <= 10) {
        // The product of two floats is exact in double; truncated toward zero. A rate that gives
        // no whole sample still makes periods of one sample.
        const double product =
            static_cast<double>(s_samples_per_ms) *
            static_cast<double>(static_cast<float>(kPeriodMilliseconds[type - 1]));
        if (!(product >= 1.0)) {
            m_frame_length = 1;
        } else if (product >= 2147483647.0) {
            m_frame_length = 2147483647;
        } else {
            m_frame_length = static_cast<int32_t>(product);
        }
    }
    m_countdown = m_frame_length;
    m_write_index = 0;
}

void CaptureModel::Process(const float* input, int32_t count, Expectation& out) {
    out.Clear();
    if (m_active == 0) {
        out.idle = true;
        return;
    }
    // A block without samples or without a buffer is not looked at.
    if (count <= 0 || input == nullptr) {
        return;
    }
    if (m_display_type > 0) {
        ProcessPeaks(input, count, out);
    } else {
        ProcessFrame(input, count, out);
    }
}

void CaptureModel::ProcessPeaks(const float* input, int32_t count, Expectation& out) {
    for (int32_t i = 0; i < count; ++i) {
        const float x = input[i];
        if (x >= m_period_max) {
            m_period_max = x;
        } else if (x <= m_period_min) {
            m_period_min = x;
        }
        if (!(std::fabs(x) < kPeakCheckLimit)) {
            m_period_checkable = false;
        }
        if (--m_countdown == 0) {
            m_countdown = m_frame_length;
            out.peaks.push_back(ExpectedPeak{m_period_max, m_period_min, m_period_checkable});
            m_period_max = 0.0f;
            m_period_min = 0.0f;
            m_period_checkable = true;
            if (m_active == 2) {
                m_active = 0;
            }
        }
    }
}

void CaptureModel::ProcessFrame(const float* input, int32_t count, Expectation& out) {
    if (m_capture_state == 0) {
        return;
    }
    int32_t position = 0;
    if (m_display_type < 0 && (m_capture_state == 1 || m_capture_state == 2)) {
        if (m_capture_state == 1) {
            m_previous_bits = Bits(input[0]);
            m_capture_state = 2;
        }
        for (; position < count; ++position) {
            const int32_t current = Bits(input[position]);
            if (m_previous_bits <= 0 && current >= 0) {
                break;
            }
            m_previous_bits = current;
        }
        if (position == count) {
            return;
        }
        m_capture_state = -1;
    }
    for (; position < count; ++position) {
        m_frame[m_write_index] = input[position];
        ++m_write_index;
        --m_countdown;
        // The frame buffer holds 800 samples: a longer frame length left over from a peak period
        // (display types outside the enumeration) ends the frame there.
        if (m_countdown == 0 || m_write_index == kFrameLength) {
            m_countdown = m_frame_length;
            m_write_index = 0;
            m_capture_state = 0;
            out.frame = true;
            std::memcpy(out.frame_samples, m_frame, sizeof m_frame);
            if (m_active == 2) {
                m_active = 0;
            }
            return;
        }
    }
}

bool FrameByteMatches(float x, uint8_t byte) {
    if (!(std::fabs(x) <= kFrameCheckLimit)) {
        return true;
    }
    const double v = 120.0 * static_cast<double>(x) + 128.0; // exact
    const double below = std::floor(v);
    const double fraction = v - below;
    const auto low8 = [](double whole) {
        return static_cast<uint8_t>(static_cast<int64_t>(whole) & 0xFF);
    };
    if (fraction < 0.5) {
        return byte == low8(below);
    }
    if (fraction > 0.5) {
        return byte == low8(below + 1.0);
    }
    return byte == low8(below) || byte == low8(below + 1.0);
}

uint8_t ExpectedFrameByte(float x) {
    const double v = 120.0 * static_cast<double>(x) + 128.0;
    double rounded = std::floor(v);
    if (v - rounded > 0.5) {
        rounded += 1.0;
    }
    return static_cast<uint8_t>(static_cast<int64_t>(rounded) & 0xFF);
}

bool PeakMatches(int32_t value, const ExpectedPeak& expected) {
    const uint32_t bits = static_cast<uint32_t>(value);
    if ((bits >> 24) != 0xFFu) {
        return false;
    }
    if (!expected.checkable) {
        return true;
    }
    const double upper = static_cast<double>((bits >> 8) & 0xFFu) / 128.0;
    const double lower = -static_cast<double>(bits & 0xFFu) / 128.0;
    // Half a step of rounding plus the float error of the scaled values.
    const double tolerance = 1.0 / 128.0 + 1e-6;
    return std::fabs(upper - static_cast<double>(expected.max)) <= tolerance &&
           std::fabs(lower - static_cast<double>(expected.min)) <= tolerance;
}

} // namespace validator
