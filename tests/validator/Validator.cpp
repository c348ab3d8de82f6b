#include "Validator.h"

#include "CaptureModel.h"
#include "PlugTable.h"
#include "PlugValueRequests.h"
#include "Probe.h"
#include "cairo_dc.h"
#include "plugs.h"
#include "se_types.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <sstream>

namespace validator {

namespace {

using sehost::BitsFloat;
using sehost::FloatBits;

constexpr int32_t kMaxBlock = 8192;
constexpr size_t kMaxQueuedPeaks = 1 << 14;
constexpr size_t kMaxFailures = 12;
// What one paint may allocate: its surface, background brush, pen and gradient brush.
constexpr uint64_t kPaintAllocations = 4;
// Columns from here on lie beyond everything a paint draws (799 columns and the polygon's
// closing column, with a pixel of smoothing).
constexpr int32_t kUntouchedFromColumn = 802;
constexpr uint32_t kSentinel = 0xFF13579Bu;

enum class Signal {
    SINE,
    NOISE,
    DC,
    SILENCE,
    SQUARE,
    IMPULSES,
    NAN_MIX,
    INF_MIX,
    DENORMAL,
    HUGE_VALUES,
    WRAPPING, // beyond full scale, where frame bytes wrap
    COUNT
};

const char* const kSignalNames[] = {
    "sine", "noise",    "dc",       "silence", "square",           "impulses",
    "nan",  "infinity", "denormal", "huge",    "beyond-full-scale"};

struct PeakOrFrame {
    bool frame = false;
    int32_t value = 0;
};

class Validator;

// One instance: both halves, the values the host holds for it and what the checks expect of it.
struct Slot {
    Validator* owner = nullptr;
    AudioPlugRecord* audio = nullptr;
    GuiPlugRecord* view = nullptr;
    bool deaf = false; // the audio side was made without a host callback
    std::vector<sehost::PlugInfo> plugs;
    uint32_t values[PLUG_COUNT] = {};

    float sample_rate = 44100.0f; // the rate the host runs at
    float module_rate = 44100.0f; // the rate the audio side holds (set by the host, or its own)
    int32_t block_size = 1024;    // the host's real block size: its buffers hold this many samples
    int32_t pin_count = 3;        // the host's answer to AUDIO_RQ_PIN_COUNT
    int32_t pins = 0;             // pins the module built and the host may address
    std::vector<float> buffers[2];
    int current_buffer = 0;
    bool input_null = false;
    uint32_t clock = 0;

    CaptureModel model;
    Expectation expect;
    size_t next_peak = 0;
    bool frame_seen = false;
    int idle_seen = 0;
    bool in_process = false;

    // Messages on their way from the audio side to the view.
    std::vector<PeakOrFrame> to_view;
    std::vector<uint8_t> frame_bytes; // the one frame on its way (the audio side waits for it)
    bool frame_pending = false;
    // Notifications on their way from the view to the audio side.
    int32_t notifies_pending = 0;
    int32_t notifies_in_call = 0;
    bool notify_args_ok = true;
    int32_t invalidates_since_paint = 0;
    int32_t routine_calls = 0;
};

Slot* g_routine_slot = nullptr;
void* g_routine_object = nullptr;

// The routine that EVENT_RUN_ROUTINE events name; it must be called with the object.
extern "C" void RunRoutineProbe(void* object) {
    g_routine_object = object;
    if (g_routine_slot != nullptr) {
        ++g_routine_slot->routine_calls;
    }
}

class Validator {
public:
    Validator(const sehost::ModuleLibrary& library, const Options& options)
        : m_library(library), m_options(options), m_rng(options.seed) {}

    Report Run();

    static intptr_t Callback(void* plug, int32_t opcode, int32_t index, int32_t value, void* ptr,
                             float opt);

private:
    // ---- random choices ----
    uint32_t Next() { return static_cast<uint32_t>(m_rng()); }
    int32_t Uniform(int32_t low, int32_t high) {
        return std::uniform_int_distribution<int32_t>(low, high)(m_rng);
    }
    double Real(double low, double high) {
        return std::uniform_real_distribution<double>(low, high)(m_rng);
    }
    bool Chance(double p) { return Real(0.0, 1.0) < p; }
    template <typename T, size_t N> const T& Pick(const T (&items)[N]) {
        return items[Uniform(0, static_cast<int32_t>(N) - 1)];
    }

    void Fail(const std::string& what);
    void Count(const char* op) { ++m_report.ops[op]; }
    void Input(const std::string& kind, uint64_t n = 1) { m_report.inputs[kind] += n; }
    void Checked(const char* kind, uint64_t n = 1) { m_report.checks[kind] += n; }

    // ---- instances ----
    void CreateSlot(std::unique_ptr<Slot>& slot);
    void CloseSlot(std::unique_ptr<Slot>& slot);
    void OpenAudio(Slot& s);
    void InitialiseView(Slot& s, bool fresh);
    Slot& AnySlot() { return *m_slots[Uniform(0, static_cast<int32_t>(m_slots.size()) - 1)]; }

    // ---- host actions ----
    void ProcessOp(Slot& s);
    void RunBlock(Slot& s, int32_t offset, int32_t count);
    void SetPlug(Slot& s, int32_t plug, uint32_t bits, bool legal);
    uint32_t LegalValue(const sehost::PlugInfo& plug);
    uint32_t IllegalValue(const sehost::PlugInfo& plug);
    void AnnouncePin(Slot& s, int32_t pin, int32_t status);
    void SendEvent(Slot& s, const HostEvent& e, const char* what);
    void ViewPinChanged(Slot& s, int32_t index);
    void DeliverToView(Slot& s);
    void ReceiveCall(Slot& s, int32_t value, int32_t index, void* data, bool expect_frame);
    void DeliverToAudio(Slot& s);
    void Paint(Slot& s, bool legal);
    void Notify(Slot& s, int32_t value, int32_t index, void* ptr);
    void FillSignal(Slot& s, float* out, int32_t count);
    void ChooseSignal();
    void CheckQuiet(const probe::Counts& c, const char* where, bool allow_paint_objects = false);

    // ---- requests ----
    intptr_t AudioRequest(Slot& s, void* plug, int32_t opcode, int32_t index, int32_t value,
                          void* ptr);
    intptr_t ViewRequest(Slot& s, void* plug, int32_t opcode, int32_t index, int32_t value,
                         void* ptr, float opt);

    const sehost::ModuleLibrary& m_library;
    Options m_options;
    std::mt19937_64 m_rng;
    Report m_report;
    std::string m_current_op = "start";
    std::vector<std::unique_ptr<Slot>> m_slots;
    std::vector<float> m_staging = std::vector<float>(kMaxBlock);

    Signal m_signal = Signal::SINE;
    double m_phase = 0.0;
    double m_step = 0.01;
    float m_amplitude = 0.8f;

    struct Canvas {
        cairo_surface_t* surface;
        int32_t width;
        int32_t height;
    };
    std::vector<Canvas> m_canvases;
};

thread_local Validator* t_running = nullptr;

void Validator::Fail(const std::string& what) {
    ++m_report.failure_count;
    if (m_report.failures.size() < kMaxFailures) {
        std::ostringstream text;
        text << "seed " << m_options.seed << ", operation " << m_report.operations << " ("
             << m_current_op << "): " << what;
        m_report.failures.push_back(text.str());
    }
}

void Validator::CheckQuiet(const probe::Counts& c, const char* where, bool allow_paint_objects) {
    const uint64_t allowed = allow_paint_objects ? kPaintAllocations : 0;
    if (c.allocations > allowed) {
        Fail(std::string(where) + " allocated " + std::to_string(c.allocations) +
             " times (allowed " + std::to_string(allowed) + ")");
    }
    if (!allow_paint_objects && c.locks != 0) {
        Fail(std::string(where) + " took " + std::to_string(c.locks) + " locks");
    }
    Checked(allow_paint_objects ? "paint allocations" : "no allocation, no lock");
}

// ---- Requests from the module
// ---------------------------------------------------------------------

intptr_t Validator::Callback(void* plug, int32_t opcode, int32_t index, int32_t value, void* ptr,
                             float opt) {
    const probe::HostScope host; // what the host does here is not the module's doing
    Validator* self = t_running;
    if (self == nullptr || plug == nullptr) {
        return 0;
    }
    int32_t magic;
    std::memcpy(&magic, plug, sizeof magic);
    intptr_t data = 0;
    if (magic == AUDIO_PLUG_MAGIC) {
        data = static_cast<AudioPlugRecord*>(plug)->hostData;
    } else if (magic == GUI_PLUG_MAGIC) {
        data = static_cast<GuiPlugRecord*>(plug)->hostData;
    } else {
        self->Fail("a request with a plug record of unknown magic " + std::to_string(magic));
        return 0;
    }
    Slot* slot = reinterpret_cast<Slot*>(data);
    const bool live =
        std::any_of(self->m_slots.begin(), self->m_slots.end(),
                    [slot](const std::unique_ptr<Slot>& p) { return p.get() == slot; });
    if (!live) {
        self->Fail("a request whose record carries no live instance");
        return 0;
    }
    return magic == AUDIO_PLUG_MAGIC
               ? self->AudioRequest(*slot, plug, opcode, index, value, ptr)
               : self->ViewRequest(*slot, plug, opcode, index, value, ptr, opt);
}

intptr_t Validator::AudioRequest(Slot& s, void* plug, int32_t opcode, int32_t index, int32_t value,
                                 void* ptr) {
    if (s.audio != nullptr && plug != s.audio) {
        Fail("the audio side passed a plug record that is not its own");
    }
    switch (opcode) {
    case AUDIO_RQ_SAMPLE_CLOCK:
        return static_cast<int32_t>(s.clock);
    case AUDIO_RQ_PIN_COUNT:
        return s.pin_count;
    case AUDIO_RQ_PIN_BUFFER:
        Fail("AUDIO_RQ_PIN_BUFFER for pin " + std::to_string(index) +
             ", although every audio plug names its variable");
        return 0;
    case AUDIO_RQ_PROCESS_CHANGED:
        return 0;
    case AUDIO_RQ_IDLE:
        if (!s.in_process) {
            Fail("AUDIO_RQ_IDLE outside the process routine");
        }
        ++s.idle_seen;
        return 0;
    case AUDIO_RQ_SEND_TO_GUI: {
        if (!s.in_process) {
            Fail("a display message outside the process routine");
            return 0;
        }
        const bool frame = (static_cast<uint32_t>(value) & 0xFF000000u) == 0;
        if (frame) {
            Checked("frame messages");
            if (index != kFrameLength || value != 0 || ptr == nullptr) {
                Fail("a frame message with index " + std::to_string(index) + ", value " +
                     std::to_string(value) + (ptr == nullptr ? ", no data" : ""));
                return 0;
            }
            if (!s.expect.frame || s.frame_seen) {
                Fail(s.frame_seen ? "a second frame message in one block"
                                  : "a frame message the capture did not complete");
                return 0;
            }
            s.frame_seen = true;
            const auto* bytes = static_cast<const uint8_t*>(ptr);
            for (int32_t i = 0; i < kFrameLength; ++i) {
                const float x = s.expect.frame_samples[i];
                if (!FrameByteMatches(x, bytes[i])) {
                    std::ostringstream text;
                    text << "frame byte " << i << " is " << int(bytes[i]) << ", sample " << x
                         << " gives " << int(ExpectedFrameByte(x));
                    Fail(text.str());
                    break;
                }
            }
            Checked("frame bytes", kFrameLength);
            s.frame_bytes.assign(bytes, bytes + kFrameLength);
            // A frame not yet handed on is replaced by the newer one (a re-armed capture).
            if (!s.frame_pending && s.to_view.size() < kMaxQueuedPeaks + 1) {
                s.to_view.push_back(PeakOrFrame{true, value});
            }
            s.frame_pending = true;
            return 0;
        }
        Checked("peak messages");
        if (index != 0 || ptr != nullptr) {
            Fail("a peak message with index " + std::to_string(index) +
                 (ptr != nullptr ? " and data" : ""));
        }
        if (s.next_peak >= s.expect.peaks.size()) {
            Fail("a peak message before its period is complete");
            return 0;
        }
        const ExpectedPeak& expected = s.expect.peaks[s.next_peak++];
        if (!PeakMatches(value, expected)) {
            std::ostringstream text;
            text << "peak value 0x" << std::hex << static_cast<uint32_t>(value) << std::dec
                 << " for a period of max " << expected.max << ", min " << expected.min;
            Fail(text.str());
        }
        if (s.to_view.size() < kMaxQueuedPeaks) {
            s.to_view.push_back(PeakOrFrame{false, value});
        }
        return 0;
    }
    default:
        Fail("the audio side sent unknown request " + std::to_string(opcode));
        return 0;
    }
}

intptr_t Validator::ViewRequest(Slot& s, void* plug, int32_t opcode, int32_t index, int32_t value,
                                void* ptr, float opt) {
    if (s.view != nullptr && plug != s.view) {
        Fail("the view passed a plug record that is not its own");
    }
    switch (opcode) {
    case GUI_RQ_INVALIDATE:
        if (++s.invalidates_since_paint > 1) {
            Fail("a second GUI_RQ_INVALIDATE before the paint");
        }
        return 0;
    case GUI_RQ_NOTIFY_AUDIO:
        ++s.notifies_in_call;
        if (value != -1 || index != 0 || ptr != nullptr) {
            s.notify_args_ok = false;
        }
        ++s.notifies_pending;
        return 0;
    case GUI_RQ_GET_PIN_VALUE:
    case GUI_RQ_SET_PIN_VALUE: {
        std::string error;
        const intptr_t answer =
            AnswerPlugValueRequest(s.values, s.plugs, opcode, index, value, ptr, opt, error);
        if (!error.empty()) {
            Fail(error);
        }
        return answer;
    }
    case GUI_RQ_3:
    case GUI_RQ_4:
    case GUI_RQ_22:
        return 0;
    default:
        Fail("the view sent unknown request " + std::to_string(opcode));
        return 0;
    }
}

// ---- Instances ---------------------------------------------------------------------------------

void Validator::CreateSlot(std::unique_ptr<Slot>& slot) {
    slot = std::make_unique<Slot>();
    Slot& s = *slot;
    s.owner = this;
    s.to_view.reserve(kMaxQueuedPeaks + 1);
    s.frame_bytes.reserve(kFrameLength);
    s.deaf = Chance(0.03);
    const auto self = reinterpret_cast<intptr_t>(&s);
    Input(s.deaf ? "instances without audio callback" : "instances");

    s.audio = static_cast<AudioPlugRecord*>(
        m_library.MakeModule()(0, MODULE_TYPE_AUDIO, s.deaf ? nullptr : &Callback, self));
    s.view =
        static_cast<GuiPlugRecord*>(m_library.MakeModule()(0, MODULE_TYPE_GUI, &Callback, self));
    if (s.audio == nullptr || s.view == nullptr || s.audio->magic != AUDIO_PLUG_MAGIC ||
        s.view->magic != GUI_PLUG_MAGIC || s.audio->hostData != self || s.view->hostData != self) {
        Fail("makeModule made no usable pair of records");
        return;
    }
    s.plugs = sehost::DiscoverPlugs(s.audio);
    if (s.plugs.size() != PLUG_COUNT) {
        Fail("the plug table has " + std::to_string(s.plugs.size()) + " plugs");
        return;
    }

    // Legal but demanding settings.
    const float rates[] = {8000.0f,  11025.0f, 16000.0f, 22050.0f,  32000.0f,  44100.0f,
                           48000.0f, 88200.0f, 96000.0f, 176400.0f, 192000.0f, 384000.0f};
    s.sample_rate = Chance(0.7) ? Pick(rates) : static_cast<float>(Uniform(8000, 384000));
    const int32_t blocks[] = {1, 2, 3, 16, 64, 100, 128, 256, 441, 512, 1024, 2048, 4096, 8192};
    s.block_size =
        Chance(0.6) ? Pick(blocks) : static_cast<int32_t>(std::exp(Real(0.0, std::log(8192.0))));
    s.block_size = std::clamp(s.block_size, 1, kMaxBlock);
    const double p = Real(0.0, 1.0);
    s.pin_count = p < 0.75 ? 3 : p < 0.85 ? Uniform(1, 2) : Uniform(4, 40);
    Input("block size " + std::string(s.block_size == 1      ? "1"
                                      : s.block_size < 64    ? "2-63"
                                      : s.block_size <= 1024 ? "64-1024"
                                                             : "1025-8192"));
    for (auto& b : s.buffers) {
        b.assign(static_cast<size_t>(s.block_size), 0.0f); // exactly one block: reads past it show
    }
    s.clock = Chance(0.2) ? 0x7FFFFFFFu - static_cast<uint32_t>(Uniform(0, 100000)) : Next();

    // Display type, Active and every GUI plug start from a saved patch or from nothing.
    const bool fresh = Chance(0.5);
    for (const auto& plug : s.plugs) {
        if (plug.datatype == PIN_TYPE_AUDIO) {
            continue;
        }
        s.values[plug.index] = fresh ? sehost::InitialValue(plug) : LegalValue(plug);
    }
    if (Chance(0.3)) {
        s.values[PLUG_ACTIVE] = ACTIVE_ON; // a running display is the common case
    }
    OpenAudio(s);
    InitialiseView(s, fresh);
}

void Validator::OpenAudio(Slot& s) {
    Count("audio open");
    // Now and then a host leaves the rate alone: the audio side keeps what it holds.
    if (Chance(0.95)) {
        s.audio->dispatcher(s.audio, AUDIO_OP_SET_SAMPLE_RATE, 0, 0, nullptr, s.sample_rate);
        s.audio->dispatcher(s.audio, AUDIO_OP_SET_BLOCK_SIZE, 0, s.block_size, nullptr, 0.0f);
        s.module_rate = s.sample_rate;
    }
    // The host writes its values into the audio side's variables before the open.
    for (const auto& plug : s.plugs) {
        if (!plug.audio_side || plug.variable == nullptr) {
            continue;
        }
        if (plug.datatype == PIN_TYPE_AUDIO) {
            float* buffer = s.input_null ? nullptr : s.buffers[s.current_buffer].data();
            std::memcpy(plug.variable, &buffer, sizeof buffer);
        } else {
            const auto v = static_cast<int16_t>(s.values[plug.index]);
            std::memcpy(plug.variable, &v, sizeof v);
        }
    }
    s.model.SetDisplayType(static_cast<int16_t>(s.values[PLUG_DISPLAY_TYPE]));
    s.model.SetActive(static_cast<int16_t>(s.values[PLUG_ACTIVE]));
    s.audio->dispatcher(s.audio, AUDIO_OP_OPEN, 0, 0, nullptr, 0.0f);
    s.model.Open(s.module_rate);
    s.pins = (s.deaf || s.pin_count <= 0) ? 0 : std::min<int32_t>(s.pin_count, 3);
    // The pins exist now: tell the audio side what its values are.
    for (const auto& plug : s.plugs) {
        if (plug.audio_side && plug.datatype != PIN_TYPE_AUDIO && plug.pin_index < s.pins) {
            AnnouncePin(s, plug.pin_index, 1);
        }
    }
}

void Validator::InitialiseView(Slot& s, bool fresh) {
    s.view->dispatcher(s.view, GUI_OP_INITIALISE, fresh ? 0 : 1, 0, nullptr, 0.0f);
    if (fresh && BitsFloat(s.values[PLUG_MAGNIFY]) != 1.0f) {
        Fail("a fresh view did not write its first-use magnification");
    }
}

void Validator::CloseSlot(std::unique_ptr<Slot>& slot) {
    if (!slot) {
        return;
    }
    Slot& s = *slot;
    if (s.view != nullptr && s.view->dispatcher(s.view, GUI_OP_CLOSE, 0, 0, nullptr, 0.0f) != 1) {
        Fail("GUI_OP_CLOSE did not answer 1");
    }
    s.view = nullptr;
    if (s.audio != nullptr &&
        s.audio->dispatcher(s.audio, AUDIO_OP_CLOSE, 0, 0, nullptr, 0.0f) != 1) {
        Fail("AUDIO_OP_CLOSE did not answer 1");
    }
    s.audio = nullptr;
    slot.reset();
}

// ---- Host actions ------------------------------------------------------------------------------

void Validator::AnnouncePin(Slot& s, int32_t pin, int32_t status) {
    HostEvent e{};
    e.time_stamp = static_cast<int32_t>(s.clock);
    e.kind = EVENT_PIN_STATUS;
    e.value = status;
    e.target = pin;
    // The capture listens to the display type pin alone.
    if (pin == s.plugs[PLUG_DISPLAY_TYPE].pin_index && pin < s.pins) {
        s.model.DisplayTypeChanged();
    }
    SendEvent(s, e, "a pin-status event");
}

void Validator::SendEvent(Slot& s, const HostEvent& e, const char* what) {
    probe::Begin();
    s.audio->event(s.audio->owner, &e);
    CheckQuiet(probe::End(), what);
}

uint32_t Validator::LegalValue(const sehost::PlugInfo& plug) {
    if (!plug.choices.empty()) {
        return sehost::NormaliseInt(
            plug.datatype, plug.choices[Uniform(0, int32_t(plug.choices.size()) - 1)].value);
    }
    if (plug.datatype == PIN_TYPE_FLOAT) {
        const float magnify[] = {0.0f, 0.25f, 0.5f, 1.0f, 1.0f, 2.0f, 4.0f, -1.0f, 10.0f};
        return FloatBits(Chance(0.6) ? Pick(magnify) : static_cast<float>(Real(-8.0, 8.0)));
    }
    switch (plug.index) {
    case PLUG_SHADING_X_PERCENT:
    case PLUG_SHADING_Y_PERCENT:
        return static_cast<uint32_t>(Uniform(0, 200));
    case PLUG_BACKGROUND_RED:
    case PLUG_BACKGROUND_GREEN:
    case PLUG_BACKGROUND_BLUE:
        return static_cast<uint32_t>(Chance(0.1) ? -1 : Uniform(0, 255)); // -1: no background
    default:
        return static_cast<uint32_t>(Uniform(0, 255));
    }
}

uint32_t Validator::IllegalValue(const sehost::PlugInfo& plug) {
    if (plug.datatype == PIN_TYPE_FLOAT) {
        const float odd[] = {std::numeric_limits<float>::quiet_NaN(),
                             std::numeric_limits<float>::infinity(),
                             -std::numeric_limits<float>::infinity(),
                             std::numeric_limits<float>::max(),
                             -std::numeric_limits<float>::max(),
                             std::numeric_limits<float>::denorm_min(),
                             1e30f,
                             -1e30f,
                             -0.0f,
                             1e9f};
        return FloatBits(Pick(odd));
    }
    const int32_t odd[] = {std::numeric_limits<int32_t>::min(),
                           std::numeric_limits<int32_t>::max(),
                           -2,
                           11,
                           256,
                           300,
                           -32768,
                           32767,
                           1 << 20,
                           -1000000,
                           1000000};
    const int32_t v = Chance(0.5) ? Pick(odd) : static_cast<int32_t>(Next());
    return sehost::NormaliseInt(plug.datatype, v);
}

// A plug change as the host makes it: held, written to the audio side's variable and announced
// there with a pin-status event at the sample clock, and reported to the view.
void Validator::SetPlug(Slot& s, int32_t index, uint32_t bits, bool legal) {
    const auto& plug = s.plugs[index];
    Input(std::string(legal ? "legal" : "illegal") + " values of " + plug.name);
    s.values[index] = bits;
    if (plug.audio_side) {
        if (plug.datatype == PIN_TYPE_AUDIO) {
            float* buffer = s.input_null ? nullptr : s.buffers[s.current_buffer].data();
            std::memcpy(plug.variable, &buffer, sizeof buffer);
        } else {
            const auto v = static_cast<int16_t>(bits);
            std::memcpy(plug.variable, &v, sizeof v);
            if (index == PLUG_DISPLAY_TYPE) {
                s.model.SetDisplayType(v);
            } else if (index == PLUG_ACTIVE) {
                s.model.SetActive(v);
            }
        }
        if (plug.pin_index < s.pins) {
            AnnouncePin(s, plug.pin_index, Chance(0.9) ? 1 : Uniform(0, 3));
        }
    }
    if (plug.gui_side) {
        ViewPinChanged(s, index);
    }
}

void Validator::ViewPinChanged(Slot& s, int32_t index) {
    probe::Begin();
    s.view->dispatcher(s.view, GUI_OP_PIN_CHANGED, index, 0, nullptr, 0.0f);
    CheckQuiet(probe::End(), "GUI_OP_PIN_CHANGED");
}

void Validator::ChooseSignal() {
    const double p = Real(0.0, 1.0);
    if (p < 0.85) {
        m_signal = static_cast<Signal>(Uniform(0, static_cast<int32_t>(Signal::IMPULSES)));
    } else {
        m_signal = static_cast<Signal>(Uniform(static_cast<int32_t>(Signal::NAN_MIX),
                                               static_cast<int32_t>(Signal::COUNT) - 1));
    }
    m_amplitude = static_cast<float>(Chance(0.2) ? 1.0 : Real(0.0, 1.0));
    // Periods from 2 samples to a few seconds at any rate.
    m_step = 2.0 * M_PI / std::exp(Real(std::log(2.0), std::log(200000.0)));
}

void Validator::FillSignal(Slot&, float* out, int32_t count) {
    Input(std::string("samples: ") + kSignalNames[static_cast<int>(m_signal)], count);
    for (int32_t i = 0; i < count; ++i) {
        m_phase += m_step;
        if (m_phase > 2.0 * M_PI) {
            m_phase -= 2.0 * M_PI;
        }
        const float sine = m_amplitude * static_cast<float>(std::sin(m_phase));
        float x = 0.0f;
        switch (m_signal) {
        case Signal::SINE:
            x = sine;
            break;
        case Signal::NOISE:
            x = static_cast<float>(Real(-m_amplitude, m_amplitude));
            break;
        case Signal::DC:
            x = m_amplitude * (m_step > 0.01 ? 1.0f : -1.0f);
            break;
        case Signal::SILENCE:
            x = (Next() & 1) ? 0.0f : -0.0f;
            break;
        case Signal::SQUARE:
            x = m_phase < M_PI ? m_amplitude : -m_amplitude;
            break;
        case Signal::IMPULSES:
            x = Chance(0.01) ? (Chance(0.5) ? 1.0f : -1.0f) : 0.0f;
            break;
        case Signal::NAN_MIX:
            x = Chance(0.05) ? std::numeric_limits<float>::quiet_NaN() : sine;
            break;
        case Signal::INF_MIX:
            x = Chance(0.05) ? (Chance(0.5) ? 1.0f : -1.0f) * std::numeric_limits<float>::infinity()
                             : sine;
            break;
        case Signal::DENORMAL:
            x = static_cast<float>(Uniform(-1000, 1000)) * std::numeric_limits<float>::denorm_min();
            break;
        case Signal::HUGE_VALUES: {
            const float huge[] = {1e30f,
                                  -1e30f,
                                  std::numeric_limits<float>::max(),
                                  -std::numeric_limits<float>::max(),
                                  3e9f,
                                  -3e9f,
                                  65536.5f};
            x = Chance(0.3) ? Pick(huge) : sine * 1e6f;
            break;
        }
        case Signal::WRAPPING:
            x = sine * 4.0f;
            break;
        case Signal::COUNT:
            break;
        }
        out[i] = x;
    }
}

// One block of the host's audio, processed in pieces: wherever the host changes a plug inside
// the block, it runs the samples before the change, announces the change at the clock, and
// carries on from the offset where it stopped.
void Validator::ProcessOp(Slot& s) {
    Count("process block");
    if (Chance(0.1)) {
        ChooseSignal();
    }
    const int32_t n = Chance(0.7) ? s.block_size : Uniform(1, s.block_size);
    FillSignal(s, m_staging.data(), n);

    int32_t cuts[4];
    int32_t cut_count = Chance(0.3) ? Uniform(1, 3) : 0;
    for (int32_t i = 0; i < cut_count; ++i) {
        cuts[i] = Uniform(0, n);
    }
    for (int32_t i = 1; i < cut_count; ++i) { // at most three: sorted by insertion
        for (int32_t k = i; k > 0 && cuts[k - 1] > cuts[k]; --k) {
            std::swap(cuts[k - 1], cuts[k]);
        }
    }
    int32_t done = 0;
    for (int32_t c = 0; c <= cut_count; ++c) {
        const int32_t end = c < cut_count ? cuts[c] : n;
        if (end > done) {
            RunBlock(s, done, end - done);
            done = end;
        }
        if (c < cut_count) {
            Count("plug change inside a block");
            // Any plug, to a legal value; Display Type and Active most often.
            const int32_t index = Chance(0.6) ? Uniform(PLUG_DISPLAY_TYPE, PLUG_ACTIVE)
                                              : Uniform(PLUG_AUDIO_IN, PLUG_COUNT - 1);
            if (index == PLUG_AUDIO_IN) {
                s.current_buffer ^= 1;
                SetPlug(s, index, 0, true);
            } else {
                SetPlug(s, index, LegalValue(s.plugs[index]), true);
            }
        }
    }
    // Most hosts hand the messages on at once, some later.
    if (Chance(0.8)) {
        DeliverToView(s);
        DeliverToAudio(s);
    }
}

void Validator::RunBlock(Slot& s, int32_t offset, int32_t count) {
    float* buffer = s.buffers[s.current_buffer].data();
    if (count > 0) {
        std::memcpy(buffer + offset, m_staging.data() + offset, sizeof(float) * count);
    }
    // Peaks that the view has not been given yet: a host that lags this far drops the oldest.
    if (s.to_view.size() > kMaxQueuedPeaks / 2) {
        DeliverToView(s);
        DeliverToAudio(s);
    }
    s.model.Process(s.input_null ? nullptr : buffer + offset, count, s.expect);
    s.next_peak = 0;
    s.frame_seen = false;
    s.idle_seen = 0;
    s.in_process = true;
    const ProcessRoutine routine = s.audio->process;
    probe::Begin();
    routine(s.audio->owner, offset, count);
    const probe::Counts c = probe::End();
    s.in_process = false;
    CheckQuiet(c, "the process routine");
    Checked("blocks against the capture model");
    const uint32_t advance = count > 0 ? static_cast<uint32_t>(count) : 0u;
    if (s.deaf) {
        s.clock += advance;
        return; // a host that gave no callback hears nothing
    }
    if (s.idle_seen != (s.expect.idle ? 1 : 0)) {
        Fail("AUDIO_RQ_IDLE sent " + std::to_string(s.idle_seen) + " times in a block, expected " +
             std::to_string(s.expect.idle ? 1 : 0));
    }
    if (s.next_peak != s.expect.peaks.size()) {
        Fail("the block sent " + std::to_string(s.next_peak) + " peak messages, expected " +
             std::to_string(s.expect.peaks.size()));
    }
    if (s.frame_seen != s.expect.frame) {
        Fail(s.expect.frame ? "the block completed a frame but sent no frame message"
                            : "unexpected frame message");
    }
    // The module's Active variable follows HOLD to OFF by itself.
    const auto& active = s.plugs[PLUG_ACTIVE];
    int16_t held;
    std::memcpy(&held, active.variable, sizeof held);
    if (held != s.model.Active()) {
        Fail("Active reads " + std::to_string(held) + " in the module, expected " +
             std::to_string(s.model.Active()));
        s.model.SetActive(held);
    }
    s.clock += advance;
}

void Validator::ReceiveCall(Slot& s, int32_t value, int32_t index, void* data, bool expect_frame) {
    s.notifies_in_call = 0;
    s.notify_args_ok = true;
    probe::Begin();
    s.view->dispatcher(s.view, GUI_OP_RECEIVE, index, value, data, 0.0f);
    CheckQuiet(probe::End(), "GUI_OP_RECEIVE");
    Checked("messages read in their form by the view");
    if (expect_frame) {
        if (s.notifies_in_call != 1 || !s.notify_args_ok) {
            Fail("the view answered a frame message with " + std::to_string(s.notifies_in_call) +
                 " notifications" + (s.notify_args_ok ? "" : " of the wrong form"));
        }
    } else if (s.notifies_in_call != 0) {
        Fail("the view answered a peak message as a frame");
    }
    // A stored message always leaves a redraw request outstanding.
    if (static_cast<int32_t>(s.values[PLUG_ACTIVE]) == ACTIVE_ON &&
        s.invalidates_since_paint == 0) {
        Fail("the view stored a message without asking for a redraw");
    }
}

void Validator::DeliverToView(Slot& s) {
    for (const PeakOrFrame& m : s.to_view) {
        if (m.frame) {
            // A buffer of exactly the frame's size, so that a read past it is seen.
            std::vector<uint8_t> copy(s.frame_bytes);
            s.frame_pending = false;
            Input("frames relayed");
            ReceiveCall(s, m.value, kFrameLength, copy.data(), true);
        } else {
            Input("peaks relayed");
            ReceiveCall(s, m.value, 0, nullptr, false);
        }
    }
    s.to_view.clear();
}

void Validator::DeliverToAudio(Slot& s) {
    while (s.notifies_pending > 0) {
        --s.notifies_pending;
        Input("notifications relayed");
        Notify(s, -1, 0, nullptr);
    }
}

void Validator::Notify(Slot& s, int32_t value, int32_t index, void* ptr) {
    probe::Begin();
    s.audio->dispatcher(s.audio, AUDIO_OP_GUI_NOTIFY, index, value, ptr, 0.0f);
    CheckQuiet(probe::End(), "AUDIO_OP_GUI_NOTIFY");
    s.model.GuiNotify();
}

void Validator::Paint(Slot& s, bool legal) {
    Canvas& canvas = m_canvases[Uniform(0, static_cast<int32_t>(m_canvases.size()) - 1)];
    int32_t size[2] = {canvas.width, canvas.height};
    if (!legal) {
        const int32_t odd[] = {
            std::numeric_limits<int32_t>::min(), -1, 0, 1, 2, 799, 800, 801, 65536, 1 << 24,
            std::numeric_limits<int32_t>::max()};
        size[0] = Chance(0.5) ? Pick(odd) : static_cast<int32_t>(Next());
        size[1] = Chance(0.5) ? Pick(odd) : static_cast<int32_t>(Next() >> Uniform(0, 31));
        Input("view sizes outside the surface");
    } else {
        Input("view sizes");
    }
    const bool check_columns = canvas.width > kUntouchedFromColumn;
    unsigned char* pixels = cairo_image_surface_get_data(canvas.surface);
    const int stride = cairo_image_surface_get_stride(canvas.surface);
    if (check_columns) {
        for (int32_t y = 0; y < canvas.height; ++y) {
            auto* row = reinterpret_cast<uint32_t*>(pixels + y * stride);
            std::fill(row + kUntouchedFromColumn, row + canvas.width, kSentinel);
        }
        cairo_surface_mark_dirty(canvas.surface);
    }
    // A stale handle now and then: the paint must carry on without a surface.
    const bool stale = !legal && Chance(0.2);
    HDC dc = stale ? nullptr : CairoDcLend(canvas.surface);
    const int32_t handle =
        stale ? Uniform(1, 1 << 20) : static_cast<int32_t>(reinterpret_cast<intptr_t>(dc));
    if (stale) {
        Input("paints into an unknown device context");
    }
    probe::Begin();
    s.view->dispatcher(s.view, GUI_OP_PAINT, handle, 0, size, 0.0f);
    CheckQuiet(probe::End(), "GUI_OP_PAINT", true);
    if (!stale) {
        CairoDcReturn(dc);
    }
    s.invalidates_since_paint = 0;
    if (check_columns) {
        cairo_surface_flush(canvas.surface);
        for (int32_t y = 0; y < canvas.height; ++y) {
            const auto* row = reinterpret_cast<const uint32_t*>(pixels + y * stride);
            if (std::any_of(row + kUntouchedFromColumn, row + canvas.width,
                            [](uint32_t p) { return p != kSentinel; })) {
                Fail("the paint drew beyond column " + std::to_string(kUntouchedFromColumn) +
                     " at row " + std::to_string(y));
                break;
            }
        }
        Checked("paints that left the columns beyond the view alone");
    }
}

// ---- The run -----------------------------------------------------------------------------------

Report Validator::Run() {
    t_running = this;
    g_routine_slot = nullptr;
    const int32_t sizes[][2] = {{1, 1}, {64, 48}, {320, 100}, {799, 64}, {1024, 200}};
    for (const auto& size : sizes) {
        cairo_surface_t* surface =
            cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size[0], size[1]);
        m_canvases.push_back(Canvas{surface, size[0], size[1]});
    }

    const int32_t instances = Uniform(1, std::max(1, m_options.max_instances));
    m_slots.resize(static_cast<size_t>(instances));
    for (auto& slot : m_slots) {
        CreateSlot(slot);
    }
    ChooseSignal();

    // Weighted operations: the legal ones first.
    enum Op {
        PROCESS,
        PLUG,
        ACTIVE_CYCLE,
        PAINT,
        NOTIFY,
        RELAY,
        REOPEN,
        CYCLE,
        QUERY,
        EVENTS,
        REINITIALISE,
        BAD_PIN_EVENT,
        BAD_FRAME,
        BAD_PEAK,
        BAD_PLUG,
        BAD_VIEW,
        BAD_OPCODE,
        BAD_BLOCK,
        OP_COUNT
    };
    const double weights[OP_COUNT] = {40, 8,   4, 5, 2, 4, 0.5, 0.5, 1,
                                      1,  0.3, 1, 2, 1, 2, 1,   1,   0.5};
    std::discrete_distribution<int> choose(std::begin(weights), std::end(weights));

    for (uint64_t n = 0; n < m_options.operations && m_report.failure_count < kMaxFailures; ++n) {
        m_report.operations = n + 1;
        const auto op = static_cast<Op>(choose(m_rng));
        Slot& s = AnySlot();
        if (s.audio == nullptr || s.view == nullptr) {
            break; // creation failed and was reported
        }
        switch (op) {
        case PROCESS:
            m_current_op = "process block";
            ProcessOp(s);
            break;
        case PLUG: {
            m_current_op = "plug change";
            Count("plug change between blocks");
            const int32_t index = Uniform(PLUG_DISPLAY_TYPE, PLUG_COUNT - 1);
            SetPlug(s, index, LegalValue(s.plugs[index]), true);
            break;
        }
        case ACTIVE_CYCLE: {
            m_current_op = "Active cycle";
            Count("Active OFF/ON/HOLD");
            const int32_t held = static_cast<int32_t>(s.values[PLUG_ACTIVE]);
            const int32_t next = ((held % 3) + 3 + 1) % 3;
            SetPlug(s, PLUG_ACTIVE, static_cast<uint32_t>(next), true);
            break;
        }
        case PAINT:
            m_current_op = "paint";
            Count("paint");
            Paint(s, true);
            break;
        case NOTIFY:
            m_current_op = "notification";
            Count("spontaneous AUDIO_OP_GUI_NOTIFY");
            DeliverToView(s);
            DeliverToAudio(s);
            Notify(s, static_cast<int32_t>(Next()), Uniform(-5, 1000), nullptr);
            break;
        case RELAY:
            m_current_op = "relay";
            Count("relay");
            DeliverToView(s);
            DeliverToAudio(s);
            break;
        case REOPEN:
            m_current_op = "reopen";
            Count("reopen of a running audio side");
            DeliverToView(s);
            DeliverToAudio(s);
            s.to_view.clear();
            s.frame_pending = false;
            if (Chance(0.5)) {
                const double p = Real(0.0, 1.0);
                s.pin_count = p < 0.7 ? 3 : p < 0.85 ? Uniform(1, 2) : Uniform(4, 40);
            }
            if (Chance(0.5)) {
                s.sample_rate = static_cast<float>(Uniform(8000, 384000));
            }
            OpenAudio(s);
            break;
        case CYCLE: {
            m_current_op = "close and create";
            Count("instance close and create");
            for (auto& slot : m_slots) {
                if (slot.get() == &s) {
                    CloseSlot(slot);
                    CreateSlot(slot);
                    break;
                }
            }
            break;
        }
        case QUERY: {
            m_current_op = "query";
            Count("process query and plug properties");
            const auto* reply = reinterpret_cast<const ProcessQueryReply*>(
                s.audio->dispatcher(s.audio, AUDIO_OP_QUERY_PROCESS, 0, 0, nullptr, 0.0f));
            if (reply == nullptr || reply->one != 1 ||
                reply->selection_size != static_cast<int32_t>(sizeof(ProcessSelection)) ||
                reply->selection == nullptr || reply->selection->routine != s.audio->process) {
                Fail("AUDIO_OP_QUERY_PROCESS gave a reply that does not name the routine in force");
            }
            SEPinProperties record{};
            const int32_t index =
                Chance(0.7) ? Uniform(0, PLUG_COUNT + 1) : static_cast<int32_t>(Next());
            // Whatever the record held before is the host's; only the patch-store bit is kept out.
            if (Chance(0.5)) {
                record.flags = static_cast<int32_t>(Next()) & ~IO_PATCH_STORE;
                record.direction = static_cast<int32_t>(Next());
            }
            const intptr_t answer =
                s.audio->dispatcher(s.audio, AUDIO_OP_GET_PIN_PROPERTIES, index, 0, &record, 0.0f);
            if (answer != ((index >= 0 && index < PLUG_COUNT) ? 1 : 0)) {
                Fail("AUDIO_OP_GET_PIN_PROPERTIES answered " + std::to_string(answer) +
                     " for plug " + std::to_string(index));
            }
            Input("plug property queries");
            break;
        }
        case EVENTS: {
            m_current_op = "other events";
            Count("events of other kinds");
            if (s.deaf) {
                break;
            }
            HostEvent e{};
            e.time_stamp = static_cast<int32_t>(s.clock);
            const int32_t kinds[] = {EVENT_KIND_2, EVENT_RUN_ROUTINE, 1, 5, 6, 20, 22, -1, 1000};
            e.kind = Pick(kinds);
            e.value = static_cast<int32_t>(Next());
            e.value2 = static_cast<int32_t>(Next());
            g_routine_slot = &s;
            g_routine_object = nullptr;
            const int32_t before = s.routine_calls;
            if (e.kind == EVENT_RUN_ROUTINE) {
                e.target = reinterpret_cast<intptr_t>(&RunRoutineProbe);
            } else {
                e.target = static_cast<intptr_t>(Next());
            }
            Input("events of kind " + std::to_string(e.kind));
            SendEvent(s, e, "an event");
            if (e.kind == EVENT_RUN_ROUTINE &&
                (s.routine_calls != before + 1 || g_routine_object != s.audio->owner)) {
                Fail("EVENT_RUN_ROUTINE did not call its routine once with the object");
            }
            g_routine_slot = nullptr;
            break;
        }
        case REINITIALISE:
            m_current_op = "initialise again";
            Count("GUI_OP_INITIALISE again");
            s.view->dispatcher(s.view, GUI_OP_INITIALISE, Uniform(-1, 2), 0, nullptr, 0.0f);
            break;
        case BAD_PIN_EVENT: {
            m_current_op = "pin-status event for a missing pin";
            Count("pin-status event for a pin that does not exist");
            if (s.pins == 0) {
                break; // no pin array: such an event is the host breaking its contract
            }
            HostEvent e{};
            e.time_stamp = static_cast<int32_t>(s.clock);
            e.kind = EVENT_PIN_STATUS;
            e.value = static_cast<int32_t>(Next());
            const intptr_t targets[] = {-1,
                                        s.pins,
                                        s.pin_count,
                                        s.pin_count + 1,
                                        1000,
                                        std::numeric_limits<int32_t>::max(),
                                        std::numeric_limits<int32_t>::min(),
                                        static_cast<intptr_t>(1) << 40};
            e.target = Pick(targets);
            if (e.target >= 0 && e.target < s.pins) {
                break;
            }
            Input("pin-status events for missing pins");
            SendEvent(s, e, "a pin-status event for a missing pin");
            break;
        }
        case BAD_FRAME: {
            m_current_op = "frame message of a wrong count";
            Count("frame message of a wrong count or without data");
            const int32_t counts[] = {-1,
                                      0,
                                      1,
                                      100,
                                      799,
                                      801,
                                      1600,
                                      65536,
                                      std::numeric_limits<int32_t>::max(),
                                      std::numeric_limits<int32_t>::min()};
            const int32_t count = Pick(counts);
            const bool null_data = Chance(0.3);
            // Exactly as many bytes as the view may read: the count, at most 800.
            std::vector<uint8_t> bytes(static_cast<size_t>(std::clamp(count, 0, kFrameLength)));
            for (auto& b : bytes) {
                b = static_cast<uint8_t>(Next());
            }
            Input(null_data ? "frame messages without data" : "frame messages of a wrong count");
            const int32_t value = Chance(0.5) ? 0 : static_cast<int32_t>(Next() & 0x00FFFFFFu);
            ReceiveCall(s, value, count, null_data || bytes.empty() ? nullptr : bytes.data(), true);
            DeliverToAudio(s);
            break;
        }
        case BAD_PEAK: {
            m_current_op = "odd peak message";
            Count("peak message with odd bits");
            const int32_t value = static_cast<int32_t>(Next() | 0x01000000u);
            Input("peak messages with odd bits");
            ReceiveCall(s, value, Uniform(-10, 10), nullptr, false);
            break;
        }
        case BAD_PLUG: {
            m_current_op = "illegal plug value";
            Count("illegal plug value");
            const int32_t index = Uniform(PLUG_DISPLAY_TYPE, PLUG_COUNT - 1);
            if (Chance(0.15)) {
                // A change reported for a plug the module does not have.
                const int32_t missing[] = {-1, PLUG_COUNT, 100,
                                           std::numeric_limits<int32_t>::min()};
                Input("GUI_OP_PIN_CHANGED for missing plugs");
                ViewPinChanged(s, Pick(missing));
                break;
            }
            SetPlug(s, index, IllegalValue(s.plugs[index]), false);
            if (Chance(0.1)) {
                // An audio input with no buffer behind it for a while.
                s.input_null = !s.input_null;
                Input("input variable without a buffer");
                SetPlug(s, PLUG_AUDIO_IN, 0, false);
            }
            break;
        }
        case BAD_VIEW:
            m_current_op = "paint of an odd size";
            Count("paint of an extreme size");
            if (Chance(0.5)) {
                SetPlug(s, PLUG_MAGNIFY, IllegalValue(s.plugs[PLUG_MAGNIFY]), false);
            }
            Paint(s, false);
            break;
        case BAD_OPCODE: {
            m_current_op = "opcode outside the tables";
            Count("opcode outside the tables");
            const int32_t audio_ops[] = {
                4,         5, 9, 11, 14, 15, 21, 100, -1, -100, std::numeric_limits<int32_t>::min(),
                AUDIO_OP_8};
            const int32_t gui_ops[] = {GUI_OP_3,  GUI_OP_4,  GUI_OP_5,
                                       GUI_OP_8,  GUI_OP_9,  GUI_OP_10,
                                       GUI_OP_11, GUI_OP_12, 13,
                                       100,       -1,        std::numeric_limits<int32_t>::max()};
            uint8_t scratch[64] = {};
            void* ptr = Chance(0.5) ? scratch : nullptr;
            const float opt = BitsFloat(Next());
            if (Chance(0.5)) {
                const int32_t op = Pick(audio_ops);
                Input("audio opcodes outside the table");
                const intptr_t answer =
                    s.audio->dispatcher(s.audio, op, static_cast<int32_t>(Next()),
                                        static_cast<int32_t>(Next()), ptr, opt);
                if (answer != 0) {
                    Fail("audio opcode " + std::to_string(op) + " answered " +
                         std::to_string(answer));
                }
            } else {
                const int32_t op = Pick(gui_ops);
                Input("GUI opcodes outside the table");
                const intptr_t answer = s.view->dispatcher(s.view, op, static_cast<int32_t>(Next()),
                                                           static_cast<int32_t>(Next()), ptr, opt);
                if (answer != 0) {
                    Fail("GUI opcode " + std::to_string(op) + " answered " +
                         std::to_string(answer));
                }
            }
            break;
        }
        case BAD_BLOCK: {
            m_current_op = "empty block";
            Count("process call without samples");
            Input("blocks of no or negative length");
            RunBlock(s, 0, Chance(0.5) ? 0 : -Uniform(1, 1 << 20));
            break;
        }
        case OP_COUNT:
            break;
        }
    }

    for (auto& slot : m_slots) {
        CloseSlot(slot);
    }
    for (const Canvas& c : m_canvases) {
        cairo_surface_destroy(c.surface);
    }
    t_running = nullptr;
    return m_report;
}

} // namespace

Report Run(const sehost::ModuleLibrary& library, const Options& options) {
    Validator validator(library, options);
    return validator.Run();
}

} // namespace validator
