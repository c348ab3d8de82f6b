#include "Signal.h"

#include "HostError.h"

#include <algorithm>
#include <cmath>

namespace preview {

namespace {

constexpr double kPi = 3.14159265358979323846;

class DemoSignal : public Signal {
public:
    DemoSignal(float rate, int64_t length) : m_rate(rate), m_length(length) {}

    int64_t Read(float* out, int64_t count) override {
        const int64_t n = std::min(count, m_length - m_position);
        for (int64_t i = 0; i < n; ++i) {
            out[i] = Sample(m_position + i);
        }
        m_position += n;
        return n;
    }
    float SampleRate() const override { return m_rate; }
    int64_t Length() const override { return m_length; }

private:
    float Sample(int64_t n) const {
        const double rate = m_rate;
        const int64_t cycle = static_cast<int64_t>(6.0 * rate);
        const int64_t local = n % cycle;
        const double t = static_cast<double>(local) / rate;
        if (t < 2.0) {
            // Phase from the sample index modulo the period, so every period is bit for bit
            // the same.
            const double phase = 2.0 * kPi * static_cast<double>(local % 400) / 400.0;
            return static_cast<float>(0.62 * std::sin(phase) + 0.22 * std::sin(2.0 * phase) +
                                      0.1 * std::sin(3.0 * phase));
        }
        if (t >= 2.5 && t < 4.5) {
            static const double kStrength[] = {0.95, 0.4, 0.7, 0.25, 0.85, 0.5, 0.3, 0.6};
            const int hit = static_cast<int>((t - 2.5) / 0.25);
            const double since = t - 2.5 - hit * 0.25;
            // A fixed pseudo-random rattle on top of the tone.
            uint32_t x = static_cast<uint32_t>(local) * 2654435761u;
            x ^= x >> 13;
            const double noise = (static_cast<double>(x & 0xFFFF) / 32768.0) - 1.0;
            const double tone = std::sin(2.0 * kPi * 180.0 * since);
            return static_cast<float>(kStrength[hit] * std::exp(-since / 0.06) *
                                      (0.7 * tone + 0.3 * noise));
        }
        if (t >= 5.0) {
            const double swell = std::sin(kPi * (t - 5.0));
            return static_cast<float>(0.9 * swell * swell * std::sin(2.0 * kPi * 90.0 * t));
        }
        return 0.0f;
    }

    float m_rate;
    int64_t m_length;
    int64_t m_position = 0;
};

} // namespace

std::unique_ptr<Signal> MakeDemoSignal(float sample_rate, int64_t length) {
    return std::make_unique<DemoSignal>(sample_rate, std::max<int64_t>(length, 0));
}

} // namespace preview
