// The audio side of the module: the capture engine.
#include "Module.h"

#include <atomic>
#include <climits>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

using display_message::kFrameBytes;

// Samples per millisecond, shared by every instance of the process: written by each Open, read
// by each change of "Display Type". A host opens instances on its UI thread while its audio
// threads change display types, so the value is atomic; relaxed, since every Open of a process
// stores the same rate and nothing else is ordered by it.
std::atomic<float> g_samples_per_ms{44.1f};

// The frame length until "Display Type" first sets one: the 1 ms period at the 44.1 samples per
// millisecond assumed before any Open.
constexpr int32_t kFirstFrameLength = 44;

// Period lengths of the peak display types 1 to 10, in milliseconds.
const int32_t kPeriodMilliseconds[10] = {1, 2, 5, 10, 20, 40, 60, 80, 100, 200};

// The frame length of a period: samples per millisecond times the milliseconds (as a 32-bit
// float), truncated toward zero. The product is formed in double, where it is exact, as the
// extended precision of the original computation gives it. Rates that give no sample (zero,
// negative, NaN) make periods of one sample; lengths beyond the 32-bit range are held at its top.
int32_t PeriodLength(float samples_per_ms, int32_t milliseconds) {
    const double product =
        static_cast<double>(samples_per_ms) * static_cast<double>(static_cast<float>(milliseconds));
    if (!(product >= 1.0)) {
        return 1;
    }
    if (product >= static_cast<double>(INT32_MAX)) {
        return INT32_MAX;
    }
    return static_cast<int32_t>(product);
}

#if defined(__SSE2__)
// Frame bytes eight at a time, for samples below 65536 in magnitude. There
// t = trunc(120 x + 8388736.5) is floor(120 x + 128.5) + 2^23, with 2^23 a multiple of 256: the
// sum is exact wherever it lies near an integer (and rounds by far less than its distance to
// one elsewhere), and positive, so truncation is the floor. Its low 8 bits are the byte;
// checked against EncodeFrameSample for every float in that range.
inline void FrameBytesShort8(const float* x, uint8_t* out, __m128& in_range) {
    const __m128d k120 = _mm_set1_pd(120.0);
    const __m128d offset = _mm_set1_pd(8388736.5);
    const __m128 limit = _mm_set1_ps(65536.0f);
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    const __m128 a = _mm_loadu_ps(x);
    const __m128 b = _mm_loadu_ps(x + 4);
    in_range = _mm_and_ps(in_range, _mm_cmplt_ps(_mm_and_ps(a, magnitude), limit)); // NaN: no
    in_range = _mm_and_ps(in_range, _mm_cmplt_ps(_mm_and_ps(b, magnitude), limit));
    const __m128i t0 = _mm_cvttpd_epi32(_mm_add_pd(_mm_mul_pd(_mm_cvtps_pd(a), k120), offset));
    const __m128i t1 =
        _mm_cvttpd_epi32(_mm_add_pd(_mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(a, a)), k120), offset));
    const __m128i t2 = _mm_cvttpd_epi32(_mm_add_pd(_mm_mul_pd(_mm_cvtps_pd(b), k120), offset));
    const __m128i t3 =
        _mm_cvttpd_epi32(_mm_add_pd(_mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(b, b)), k120), offset));
    const __m128i low_bytes = _mm_set1_epi32(0xFF);
    const __m128i first = _mm_and_si128(_mm_unpacklo_epi64(t0, t1), low_bytes);
    const __m128i second = _mm_and_si128(_mm_unpacklo_epi64(t2, t3), low_bytes);
    const __m128i words = _mm_packs_epi32(first, second);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(words, words));
}
#endif

// A run of frame bytes.
inline void EncodeRun(const float* x, int32_t n, uint8_t* out) {
    int32_t i = 0;
#if defined(__SSE2__)
    __m128 in_range = _mm_castsi128_ps(_mm_set1_epi32(-1));
    for (; i + 8 <= n; i += 8) {
        FrameBytesShort8(x + i, out + i, in_range);
    }
    if (_mm_movemask_ps(in_range) != 0xF) {
        // A sample beyond the short range (or NaN): write that part again one by one.
        for (int32_t k = 0; k < i; ++k) {
            out[k] = display_message::EncodeFrameSample(x[k]);
        }
    }
#endif
    for (; i < n; ++i) {
        out[i] = display_message::EncodeFrameSample(x[i]);
    }
}

// The raw bits of a sample, as a signed 32-bit integer.
inline int32_t SampleBits(float x) {
    int32_t bits;
    std::memcpy(&bits, &x, sizeof(bits));
    return bits;
}

// Largest and smallest of a run of samples, together with the running values. A sample takes
// the maximum when it is >= it, else the minimum when it is <= it; NaN takes neither. The vector
// lanes reach the same numbers (at most differing in the sign of a zero, which no peak message
// shows).
inline void RunMaxMin(const float* x, int32_t n, float& max, float& min) {
    int32_t i = 0;
#if defined(__SSE2__)
    if (n >= 16) {
        // max(x, m) and min(x, m) keep m when x is NaN, as the comparisons above do.
        __m128 max_a = _mm_set1_ps(max), max_b = max_a;
        __m128 min_a = _mm_set1_ps(min), min_b = min_a;
        for (; i + 8 <= n; i += 8) {
            const __m128 a = _mm_loadu_ps(x + i);
            const __m128 b = _mm_loadu_ps(x + i + 4);
            max_a = _mm_max_ps(a, max_a);
            max_b = _mm_max_ps(b, max_b);
            min_a = _mm_min_ps(a, min_a);
            min_b = _mm_min_ps(b, min_b);
        }
        max_a = _mm_max_ps(max_a, max_b);
        min_a = _mm_min_ps(min_a, min_b);
        max_a = _mm_max_ps(max_a, _mm_movehl_ps(max_a, max_a));
        min_a = _mm_min_ps(min_a, _mm_movehl_ps(min_a, min_a));
        max_a = _mm_max_ss(max_a, _mm_shuffle_ps(max_a, max_a, 1));
        min_a = _mm_min_ss(min_a, _mm_shuffle_ps(min_a, min_a, 1));
        max = _mm_cvtss_f32(max_a);
        min = _mm_cvtss_f32(min_a);
    }
#endif
    for (; i < n; ++i) {
        const float sample = x[i];
        if (sample >= max) {
            max = sample;
        } else if (sample <= min) {
            min = sample;
        }
    }
}

} // namespace

extern "C" {
// The process routine that the host calls: a plain C entry that runs the object's capture.
static void ModuleCaptureEntry(void* object, int32_t offset, int32_t count) {
    static_cast<Module*>(static_cast<SEModule_base*>(object))->Capture(offset, count);
}
}

Module::Module(HostCallback callback, intptr_t host_argument)
    : SEModule_base(callback, host_argument), m_plugs() {
    ResetCapture();
}

Module::~Module() = default;

void Module::Close() {}

// The GUI side's only notification is the frame-read reply (display_message::kFrameReadReply),
// so its arguments need no reading: the frame buffer is free again, and the next frame may begin.
void Module::OnGuiNotify(int32_t, int32_t, void*) {
    m_capture_state = CaptureState::kReady;
}

void Module::ResetCapture() {
    m_period_min = 0.0f;
    m_period_max = 0.0f;
    m_capture_state = CaptureState::kReady;
    m_write_index = 0;
    m_countdown = kFirstFrameLength;
    m_frame_length = kFirstFrameLength;
    m_previous_sample = 0;
    std::memset(m_frame, 128, sizeof(m_frame)); // silence
}

void Module::Open() {
    SEModule_base::Open();
    SetProcessRoutine(ProcessSelection{&ModuleCaptureEntry, 0, 0});
    g_samples_per_ms.store(static_cast<float>(static_cast<long double>(SampleRate()) * 0.001L),
                           std::memory_order_relaxed);
    ResetCapture();
}

void Module::OnPlugStateChange(SEPin* pin) {
    if (pin->Index() != PLUG_DISPLAY_TYPE) {
        return;
    }
    // The types without a length of their own keep the one they had: the peak types past the
    // last period, and the negative ones below Sample Sync (which capture as it does).
    const int32_t type = m_plugs.display_type;
    if (type == DISPLAY_SAMPLE_SYNC || type == DISPLAY_SAMPLE) {
        m_frame_length = kFrameBytes;
        m_capture_state = CaptureState::kReady;
    } else if (IsPeakMode() && type <= DISPLAY_LAST_PERIOD) {
        m_frame_length = PeriodLength(g_samples_per_ms.load(std::memory_order_relaxed),
                                      kPeriodMilliseconds[type - 1]);
    }
    m_countdown = m_frame_length;
    m_write_index = 0;
}

void Module::Capture(int32_t offset, int32_t count) {
    if (m_plugs.active == ACTIVE_OFF) {
        CallHost(AUDIO_RQ_IDLE, 0, 0, nullptr, 0.0f);
        return;
    }
    if (count <= 0 || m_plugs.input == nullptr) {
        return;
    }
    const float* input = m_plugs.input + offset;
    if (IsPeakMode()) {
        CapturePeaks(input, count);
    } else {
        CaptureFrame(input, count);
    }
}

void Module::CapturePeaks(const float* input, int32_t count) {
    int32_t position = 0;
    while (position < count) {
        // m_countdown >= 1, so every pass takes at least one sample.
        const int32_t remaining = count - position;
        const int32_t run = remaining < m_countdown ? remaining : m_countdown;
        RunMaxMin(input + position, run, m_period_max, m_period_min);
        position += run;
        m_countdown -= run;
        if (m_countdown == 0) {
            m_countdown = m_frame_length;
            const int32_t peak = display_message::EncodePeak(m_period_max, m_period_min);
            CallHost(AUDIO_RQ_SEND_TO_GUI, 0, peak, nullptr, 0.0f);
            m_period_max = 0.0f;
            m_period_min = 0.0f;
            if (m_plugs.active == ACTIVE_HOLD) {
                m_plugs.active = ACTIVE_OFF;
            }
        }
    }
}

void Module::CaptureFrame(const float* input, int32_t count) {
    if (m_capture_state == CaptureState::kAwaitingReply) {
        return;
    }
    int32_t position = 0;
    if (IsSynced() &&
        (m_capture_state == CaptureState::kReady || m_capture_state == CaptureState::kSearching)) {
        if (m_capture_state == CaptureState::kReady) {
            m_previous_sample = SampleBits(input[0]);
            m_capture_state = CaptureState::kSearching;
        }
        // A rising crossing: previous sample negative or +0.0, this one +0.0 or positive.
        int32_t previous = m_previous_sample;
        for (; position < count; ++position) {
            const int32_t current = SampleBits(input[position]);
            if (previous <= 0 && current >= 0) {
                break;
            }
            previous = current;
        }
        m_previous_sample = previous;
        if (position == count) {
            return; // no trigger in this block: keep searching in the next
        }
        m_capture_state = CaptureState::kCapturing;
    }

    // The run ends at the block's end, the countdown or the end of the frame buffer, whichever
    // comes first: a frame length from another mode can never drive a write past the buffer.
    int32_t run = count - position;
    if (m_countdown < run) {
        run = m_countdown;
    }
    const int32_t room = kFrameBytes - m_write_index;
    if (room < run) {
        run = room;
    }
    const float* x = input + position;
    uint8_t* out = m_frame + m_write_index;
    EncodeRun(x, run, out);
    m_write_index += run;
    m_countdown -= run;
    if (m_countdown == 0 || m_write_index == kFrameBytes) {
        m_countdown = m_frame_length;
        m_write_index = 0;
        // The GUI side reads m_frame whenever the host delivers this: capture nothing until its
        // reply.
        m_capture_state = CaptureState::kAwaitingReply;
        CallHost(AUDIO_RQ_SEND_TO_GUI, kFrameBytes, 0, m_frame, 0.0f);
        if (m_plugs.active == ACTIVE_HOLD) {
            m_plugs.active = ACTIVE_OFF;
        }
    }
}
