#include "ThreadedValidator.h"

#include "CaptureModel.h"
#include "AudioSideHost.h"
#include "LentSurface.h"
#include "PlugTable.h"
#include "PlugValueRequests.h"
#include "Probe.h"
#include "gdiplus.h"
#include "plugs.h"
#include "se_types.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <utility>

namespace validator {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kAudioThreads = 2;
constexpr size_t kMaxInstances = 6;
constexpr size_t kMaxQueued = 4096; // peaks a lagging UI thread has not taken yet
constexpr size_t kMaxFailures = 12;
constexpr uint32_t kSentinel = 0x00123456u; // no paint leaves a pixel like this
constexpr auto kFrameInterval = std::chrono::microseconds(16667);

struct Message {
    int32_t value = 0;
    std::vector<uint8_t> frame; // empty for a peak
};

// One instance. Each group of fields belongs to one thread at a time; the host's queues (and their
// locks) carry the instance from one thread to the next.
struct Instance {
    AudioPlugRecord* audio = nullptr;
    GuiPlugRecord* view = nullptr;
    std::vector<sehost::PlugInfo> plugs;

    // The audio thread that runs the instance (the UI thread until it hands the instance over).
    int32_t block = 256;
    std::vector<float> buffer;
    bool silent = false;
    double phase = 0.0;
    uint32_t clock = 0;
    int16_t type = 0;             // what the host last wrote into the display type variable
    int16_t active = 1;           // and into Active (the module turns HOLD to OFF itself)
    int32_t period = 44;          // peak modes: samples per period at the process's rate
    int32_t countdown = 44;       // samples left in the running period
    bool awaiting_answer = false; // a frame went out and the view has not answered it
    bool in_process = false;
    int32_t idles = 0, peaks = 0, frames = 0; // sent in the block under way

    // The UI thread.
    uint32_t values[PLUG_COUNT] = {};
    int32_t invalidates = 0;
    bool leaving = false; // asked to retire, not yet given back

    // Between the threads, under the host's lock.
    std::mutex lock;
    std::deque<Message> to_view;
    std::vector<std::pair<int32_t, int16_t>> to_audio; // plug changes of the audio side
    int32_t answers = 0;                               // the view's answers to frames
    bool retire = false;
};

// The record the host is calling on this thread, or the instance it is making: every request
// must come from that object.
thread_local const void* t_called = nullptr;
thread_local Instance* t_making = nullptr;
thread_local int32_t t_answers = 0; // GUI_RQ_NOTIFY_AUDIO within one call

class ThreadedHost {
public:
    ThreadedHost(const sehost::ModuleLibrary& library, const ThreadedOptions& options)
        : m_library(library), m_options(options) {
        // The periods the capture must cut at this rate, worked out by the capture model.
        CaptureModel model;
        model.Open(options.sample_rate);
        for (int16_t type = DISPLAY_FIRST_PERIOD; type <= DISPLAY_LAST_PERIOD; ++type) {
            model.SetDisplayType(type);
            model.DisplayTypeChanged();
            m_periods[type] = model.FrameLength();
        }
    }

    ThreadedReport Run();

    static intptr_t Callback(void* plug, int32_t opcode, int32_t index, int32_t value, void* ptr,
                             float opt);

private:
    using Ops = std::map<std::string, uint64_t>;

    void Fail(const std::string& what);
    intptr_t AudioRequest(Instance& in, int32_t opcode, int32_t index, int32_t value, void* ptr);
    intptr_t ViewRequest(Instance& in, int32_t opcode, int32_t index, int32_t value, void* ptr,
                         float opt);
    intptr_t CallAudio(Instance& in, int32_t op, int32_t index, int32_t value, void* ptr,
                       float opt = 0.0f);
    intptr_t CallView(Instance& in, int32_t op, int32_t index, int32_t value, void* ptr);
    void CheckQuiet(const char* where);

    void AudioThread(int me);
    void ApplyAudioPlug(Instance& in, int32_t plug, int16_t value);
    void RunBlock(Instance& in);

    void UiThread();
    void AddInstance(std::mt19937& rng);
    void CloseInstance(Instance& in);
    size_t CloseReturned();
    void Deliver(Instance& in, Ops& ops);
    void ChangePlug(Instance& in, std::mt19937& rng, Ops& ops);
    void Paint(Instance& in, std::mt19937& rng);

    void DrawingThread();

    const sehost::ModuleLibrary& m_library;
    const ThreadedOptions m_options;
    int32_t m_periods[DISPLAY_LAST_PERIOD + 1] = {};
    std::atomic<bool> m_stop{false};
    Ops m_ops[kAudioThreads + 2]; // each thread's own

    std::mutex m_inbox_lock[kAudioThreads]; // instances handed to an audio thread
    std::vector<Instance*> m_inbox[kAudioThreads];
    std::mutex m_returned_lock; // instances the audio threads gave back for deletion
    std::vector<Instance*> m_returned;
    std::vector<std::unique_ptr<Instance>> m_instances; // the UI thread's
    size_t m_live = 0;                                  // of them not leaving

    std::mutex m_report_lock;
    ThreadedReport m_report;
};

ThreadedHost* g_host = nullptr;

void ThreadedHost::Fail(const std::string& what) {
    std::lock_guard<std::mutex> guard(m_report_lock);
    if (++m_report.failure_count <= kMaxFailures) {
        m_report.failures.push_back(what);
    }
}

void ThreadedHost::CheckQuiet(const char* where) {
    const probe::Counts c = probe::End();
    if (c.allocations != 0 || c.locks != 0) {
        Fail(std::string(where) + " allocated " + std::to_string(c.allocations) +
             " times and took " + std::to_string(c.locks) + " locks");
    }
}

intptr_t ThreadedHost::CallAudio(Instance& in, int32_t op, int32_t index, int32_t value, void* ptr,
                                 float opt) {
    t_called = in.audio;
    const intptr_t result = in.audio->dispatcher(in.audio, op, index, value, ptr, opt);
    t_called = nullptr;
    return result;
}

intptr_t ThreadedHost::CallView(Instance& in, int32_t op, int32_t index, int32_t value, void* ptr) {
    t_called = in.view;
    const intptr_t result = in.view->dispatcher(in.view, op, index, value, ptr, 0.0f);
    t_called = nullptr;
    return result;
}

// ---- Requests ----------------------------------------------------------------------------------

intptr_t ThreadedHost::Callback(void* plug, int32_t opcode, int32_t index, int32_t value, void* ptr,
                                float opt) {
    const probe::HostScope host;
    int32_t magic;
    std::memcpy(&magic, plug, sizeof magic);
    const bool audio = magic == AUDIO_PLUG_MAGIC;
    auto* in = reinterpret_cast<Instance*>(audio ? static_cast<AudioPlugRecord*>(plug)->hostData
                                                 : static_cast<GuiPlugRecord*>(plug)->hostData);
    if (t_making != nullptr ? in != t_making : plug != t_called) {
        g_host->Fail("request " + std::to_string(opcode) +
                     " from an object the host is not calling");
        return 0;
    }
    return audio ? g_host->AudioRequest(*in, opcode, index, value, ptr)
                 : g_host->ViewRequest(*in, opcode, index, value, ptr, opt);
}

intptr_t ThreadedHost::AudioRequest(Instance& in, int32_t opcode, int32_t index, int32_t value,
                                    void* ptr) {
    switch (opcode) {
    case AUDIO_RQ_SAMPLE_CLOCK:
        return static_cast<int32_t>(in.clock);
    case AUDIO_RQ_PIN_COUNT:
        return 3;
    case AUDIO_RQ_PROCESS_CHANGED:
        return 0;
    case AUDIO_RQ_IDLE:
        ++in.idles;
        return 0;
    case AUDIO_RQ_SEND_TO_GUI:
        break;
    default:
        Fail("the audio side sent request " + std::to_string(opcode));
        return 0;
    }
    Message m;
    m.value = value;
    if (!in.in_process) {
        Fail("a display message outside the process routine");
    } else if ((static_cast<uint32_t>(value) >> 24) == 0xFF) {
        ++in.peaks;
        if (index != 0 || ptr != nullptr || in.type < DISPLAY_FIRST_PERIOD) {
            Fail("a peak message with index " + std::to_string(index) + " in display type " +
                 std::to_string(in.type));
        } else if (in.silent && static_cast<uint32_t>(value) != 0xFF000000u) {
            Fail("a peak message of silence reads " + std::to_string(value & 0xFFFF));
        }
    } else {
        ++in.frames;
        if (index != kFrameLength || value != 0 || ptr == nullptr || in.type > DISPLAY_SAMPLE) {
            Fail("a frame message with index " + std::to_string(index) + ", value " +
                 std::to_string(value) + " in display type " + std::to_string(in.type));
            return 0;
        }
        if (in.awaiting_answer || in.frames > 1) {
            Fail("a frame message before the view answered the last one");
        }
        in.awaiting_answer = true;
        const auto* bytes = static_cast<const uint8_t*>(ptr);
        if (in.silent &&
            std::any_of(bytes, bytes + kFrameLength, [](uint8_t b) { return b != 128; })) {
            Fail("a frame of silence holds a byte other than 128");
        }
        m.frame.assign(bytes, bytes + kFrameLength);
    }
    std::lock_guard<std::mutex> guard(in.lock);
    if (!m.frame.empty() || in.to_view.size() < kMaxQueued) {
        in.to_view.push_back(std::move(m));
    }
    return 0;
}

intptr_t ThreadedHost::ViewRequest(Instance& in, int32_t opcode, int32_t index, int32_t value,
                                   void* ptr, float opt) {
    switch (opcode) {
    case GUI_RQ_INVALIDATE:
        if (++in.invalidates > 1) {
            Fail("a second GUI_RQ_INVALIDATE before the paint");
        }
        return 0;
    case GUI_RQ_NOTIFY_AUDIO: {
        ++t_answers;
        std::lock_guard<std::mutex> guard(in.lock);
        ++in.answers;
        return 0;
    }
    case GUI_RQ_GET_PIN_VALUE:
    case GUI_RQ_SET_PIN_VALUE: {
        std::string error;
        const intptr_t answer =
            AnswerPlugValueRequest(in.values, in.plugs, opcode, index, value, ptr, opt, error);
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
        Fail("the view sent request " + std::to_string(opcode));
        return 0;
    }
}

// ---- Audio threads -----------------------------------------------------------------------------

// A plug change on the audio side, as a host makes it between blocks: the variable, then a
// pin-status event at the sample clock.
void ThreadedHost::ApplyAudioPlug(Instance& in, int32_t plug, int16_t value) {
    const sehost::PlugInfo& info = in.plugs[plug];
    sehost::WritePlugVariable(info, sehost::NormaliseInt(info.datatype, value));
    if (plug == PLUG_DISPLAY_TYPE) {
        in.type = value;
        if (value >= DISPLAY_FIRST_PERIOD) {
            in.period = m_periods[value];
        } else {
            in.awaiting_answer = false; // a change to a sample mode arms the capture again
        }
        in.countdown = in.period;
    } else {
        in.active = value;
    }
    t_called = in.audio;
    probe::Begin();
    sehost::SendPinStatus(in.audio, in.plugs[plug].pin_index, static_cast<int32_t>(in.clock));
    CheckQuiet("a pin-status event");
    t_called = nullptr;
}

void ThreadedHost::RunBlock(Instance& in) {
    const int32_t n = in.block;
    for (int32_t i = 0; i < n; ++i) {
        in.phase += 0.031;
        in.buffer[static_cast<size_t>(i)] =
            in.silent ? 0.0f : 0.8f * static_cast<float>(std::sin(in.phase));
    }
    // Peaks due in this block: the running period ends at the countdown, then every period.
    int32_t due = 0;
    if (in.active != ACTIVE_OFF && in.type >= DISPLAY_FIRST_PERIOD) {
        if (n >= in.countdown) {
            due = 1 + (n - in.countdown) / in.period;
            in.countdown = in.period - (n - in.countdown) % in.period;
        } else {
            in.countdown -= n;
        }
    }
    in.idles = in.peaks = in.frames = 0;
    in.in_process = true;
    t_called = in.audio;
    probe::Begin();
    in.audio->process(in.audio->owner, 0, n);
    CheckQuiet("the process routine");
    t_called = nullptr;
    in.in_process = false;
    in.clock += static_cast<uint32_t>(n);

    if (in.idles != (in.active == ACTIVE_OFF ? 1 : 0) || in.peaks != due) {
        Fail("a block of " + std::to_string(n) + " in display type " + std::to_string(in.type) +
             " sent " + std::to_string(in.peaks) + " peaks (expected " + std::to_string(due) +
             ") and " + std::to_string(in.idles) + " idle requests");
    }
    if (in.active == ACTIVE_HOLD && in.peaks + in.frames > 0) {
        in.active = ACTIVE_OFF; // the module ends a hold itself
    }
    int16_t held;
    std::memcpy(&held, in.plugs[PLUG_ACTIVE].variable, sizeof held);
    if (held != in.active) {
        Fail("Active reads " + std::to_string(held) + ", expected " + std::to_string(in.active));
        in.active = held;
    }
}

void ThreadedHost::AudioThread(int me) {
    Ops& ops = m_ops[me];
    std::mt19937 rng(static_cast<uint32_t>(m_options.seed * 31 + static_cast<uint64_t>(me)));
    std::vector<Instance*> mine;
    while (!m_stop.load()) {
        {
            std::lock_guard<std::mutex> guard(m_inbox_lock[me]);
            mine.insert(mine.end(), m_inbox[me].begin(), m_inbox[me].end());
            m_inbox[me].clear();
        }
        for (size_t i = 0; i < mine.size();) {
            Instance& in = *mine[i];
            std::vector<std::pair<int32_t, int16_t>> changes;
            int32_t answers;
            bool retire;
            {
                std::lock_guard<std::mutex> guard(in.lock);
                changes.swap(in.to_audio);
                answers = std::exchange(in.answers, 0);
                retire = in.retire;
            }
            if (retire) {
                std::lock_guard<std::mutex> guard(m_returned_lock);
                m_returned.push_back(&in);
                mine.erase(mine.begin() + static_cast<ptrdiff_t>(i));
                continue;
            }
            for (const auto& [plug, value] : changes) {
                ApplyAudioPlug(in, plug, value);
                ++ops["plug changes"];
            }
            for (; answers > 0; --answers) {
                probe::Begin();
                CallAudio(in, AUDIO_OP_GUI_NOTIFY, 0, -1, nullptr);
                CheckQuiet("AUDIO_OP_GUI_NOTIFY");
                in.awaiting_answer = false;
                ++ops["notifications"];
            }
            RunBlock(in);
            ++ops["blocks"];
            if (rng() % 64 == 0) { // the host's automation of the display type
                ApplyAudioPlug(in, PLUG_DISPLAY_TYPE, static_cast<int16_t>(rng() % 12) - 1);
                ++ops["automated display types"];
            }
            if (rng() % 400 == 0) { // the other audio thread takes it over
                const int other = (me + 1) % kAudioThreads;
                std::lock_guard<std::mutex> guard(m_inbox_lock[other]);
                m_inbox[other].push_back(&in);
                mine.erase(mine.begin() + static_cast<ptrdiff_t>(i));
                ++ops["hand-overs"];
                continue;
            }
            ++i;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(100)); // the device's next period
    }
}

// ---- The UI thread -----------------------------------------------------------------------------

void ThreadedHost::AddInstance(std::mt19937& rng) {
    auto owned = std::make_unique<Instance>();
    Instance& in = *owned;
    const auto self = reinterpret_cast<intptr_t>(&in);
    t_making = &in;
    in.audio = static_cast<AudioPlugRecord*>(
        m_library.MakeModule()(0, MODULE_TYPE_AUDIO, &Callback, self));
    in.view =
        static_cast<GuiPlugRecord*>(m_library.MakeModule()(0, MODULE_TYPE_GUI, &Callback, self));
    t_making = nullptr;
    t_called = in.audio;
    in.plugs = sehost::DiscoverPlugs(in.audio);
    t_called = nullptr;
    for (const auto& plug : in.plugs) {
        in.values[plug.index] = sehost::InitialValue(plug);
    }
    const int32_t blocks[] = {32, 64, 128, 256, 441, 512, 1024};
    in.block = blocks[rng() % 7];
    in.buffer.assign(static_cast<size_t>(in.block), 0.0f);
    in.silent = rng() % 3 == 0;
    in.clock = static_cast<uint32_t>(rng());
    CallAudio(in, AUDIO_OP_SET_SAMPLE_RATE, 0, 0, nullptr, m_options.sample_rate);
    CallAudio(in, AUDIO_OP_SET_BLOCK_SIZE, 0, in.block, nullptr);
    float* input = in.buffer.data();
    std::memcpy(in.plugs[PLUG_AUDIO_IN].variable, &input, sizeof input);
    CallAudio(in, AUDIO_OP_OPEN, 0, 0, nullptr);
    ApplyAudioPlug(in, PLUG_DISPLAY_TYPE,
                   static_cast<int16_t>(static_cast<int32_t>(rng() % 12) - 1));
    ApplyAudioPlug(in, PLUG_ACTIVE, ACTIVE_ON);
    in.values[PLUG_DISPLAY_TYPE] = sehost::NormaliseInt(PIN_TYPE_ENUM, in.type);
    in.values[PLUG_ACTIVE] = ACTIVE_ON;
    CallView(in, GUI_OP_INITIALISE, 0, 0, nullptr); // a fresh instance: first-use values
    m_instances.push_back(std::move(owned));
    ++m_live;
    const size_t to = rng() % kAudioThreads;
    std::lock_guard<std::mutex> guard(m_inbox_lock[to]);
    m_inbox[to].push_back(&in);
}

void ThreadedHost::CloseInstance(Instance& in) {
    if (CallAudio(in, AUDIO_OP_CLOSE, 0, 0, nullptr) != 1 ||
        CallView(in, GUI_OP_CLOSE, 0, 0, nullptr) != 1) {
        Fail("a close did not answer 1");
    }
    m_instances.erase(std::find_if(m_instances.begin(), m_instances.end(),
                                   [&in](const auto& p) { return p.get() == &in; }));
}

// Closes the instances that the audio threads gave back; returns how many.
size_t ThreadedHost::CloseReturned() {
    std::vector<Instance*> returned;
    {
        std::lock_guard<std::mutex> guard(m_returned_lock);
        returned.swap(m_returned);
    }
    for (Instance* gone : returned) {
        CloseInstance(*gone);
    }
    return returned.size();
}

void ThreadedHost::Deliver(Instance& in, Ops& ops) {
    std::deque<Message> messages;
    {
        std::lock_guard<std::mutex> guard(in.lock);
        messages.swap(in.to_view);
    }
    for (Message& m : messages) {
        t_answers = 0;
        probe::Begin();
        CallView(in, GUI_OP_RECEIVE, m.frame.empty() ? 0 : kFrameLength, m.value,
                 m.frame.empty() ? nullptr : m.frame.data());
        CheckQuiet("GUI_OP_RECEIVE");
        if (t_answers != (m.frame.empty() ? 0 : 1)) {
            Fail("the view answered a message with " + std::to_string(t_answers) +
                 " notifications");
        }
        ++ops[m.frame.empty() ? "peaks received" : "frames received"];
    }
}

void ThreadedHost::ChangePlug(Instance& in, std::mt19937& rng, Ops& ops) {
    const auto plug = static_cast<int32_t>(PLUG_DISPLAY_TYPE + rng() % (PLUG_COUNT - 1));
    int32_t value = static_cast<int32_t>(rng() % 256);
    if (plug == PLUG_DISPLAY_TYPE) {
        value = static_cast<int32_t>(rng() % 12) - 1;
    } else if (plug == PLUG_ACTIVE) {
        value = rng() % 4 == 0 ? static_cast<int32_t>(rng() % 3) : ACTIVE_ON;
    } else if (plug == PLUG_FX_MODE) {
        value %= 4;
    } else if (plug >= PLUG_BACKGROUND_RED && plug <= PLUG_BACKGROUND_BLUE && rng() % 10 == 0) {
        value = -1; // no background
    } else if (plug == PLUG_BACKGROUND_ALPHA && rng() % 2 == 0) {
        value = 255;
    }
    in.values[plug] = plug == PLUG_MAGNIFY ? sehost::FloatBits(static_cast<float>(rng() % 9) * 0.5f)
                                           : sehost::NormaliseInt(in.plugs[plug].datatype, value);
    if (in.plugs[plug].audio_side) {
        std::lock_guard<std::mutex> guard(in.lock);
        in.to_audio.emplace_back(plug, static_cast<int16_t>(value));
    }
    if (in.plugs[plug].gui_side) {
        probe::Begin();
        CallView(in, GUI_OP_PIN_CHANGED, plug, 0, nullptr);
        CheckQuiet("GUI_OP_PIN_CHANGED");
    }
    ++ops["plug changes"];
}

// A paint into a surface of its own, larger than the view: the view must cover its area when the
// background is opaque and leave the columns beyond it alone.
void ThreadedHost::Paint(Instance& in, std::mt19937& rng) {
    int32_t size[2] = {static_cast<int32_t>(3 + rng() % 797),
                       static_cast<int32_t>(3 + rng() % 200)};
    LentSurface surface(size[0] + 8, size[1] + 4, kSentinel);
    CallView(in, GUI_OP_PAINT, surface.Handle(), 0, size);
    in.invalidates = 0;
    const auto value = [&in](int32_t plug) { return static_cast<int32_t>(in.values[plug]); };
    const bool opaque = value(PLUG_BACKGROUND_RED) != -1 && value(PLUG_BACKGROUND_GREEN) != -1 &&
                        value(PLUG_BACKGROUND_BLUE) != -1 &&
                        (value(PLUG_BACKGROUND_ALPHA) & 0xFF) == 0xFF;
    for (int y = 0; y < surface.Height(); ++y) {
        const uint32_t* row = surface.FlushedRow(y);
        for (int x = 0; x < surface.Width(); ++x) {
            const bool inside = x >= 1 && x < size[0] - 1 && y >= 1 && y < size[1] - 1;
            if ((x >= size[0] + 3 && row[x] != kSentinel) ||
                (opaque && inside && LentSurface::Alpha(row[x]) != 0xFF)) {
                Fail("a paint of " + std::to_string(size[0]) + "x" + std::to_string(size[1]) +
                     " left pixel " + std::to_string(x) + "," + std::to_string(y) + " at " +
                     std::to_string(row[x]));
                return;
            }
        }
    }
}

void ThreadedHost::UiThread() {
    Ops& ops = m_ops[kAudioThreads];
    std::mt19937 rng(static_cast<uint32_t>(m_options.seed));
    ULONG_PTR token = 0;
    const Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);

    const auto end = Clock::now() + std::chrono::duration<double>(m_options.seconds);
    auto next_frame = Clock::now();
    for (size_t i = 0; i < kMaxInstances / 2; ++i) {
        AddInstance(rng);
    }
    while (Clock::now() < end) {
        for (auto& in : m_instances) {
            Deliver(*in, ops);
        }
        for (int op = 0; op < 4; ++op) {
            Instance& in = *m_instances[rng() % m_instances.size()];
            const uint32_t choice = rng() % 100;
            if (choice < 70) {
                ChangePlug(in, rng, ops);
            } else if (choice < 80) {
                CallView(in, GUI_OP_INITIALISE, 1, 0, nullptr);
                ++ops["views initialised again"];
            } else if (choice < 90 && m_live < kMaxInstances) {
                AddInstance(rng);
                ++ops["instances added"];
            } else if (choice >= 90 && !in.leaving && m_live > 1) {
                in.leaving = true;
                --m_live;
                std::lock_guard<std::mutex> guard(in.lock);
                in.retire = true; // its audio thread gives it back, then it is closed
            }
        }
        ops["instances deleted"] += CloseReturned();
        if (Clock::now() >= next_frame) {
            next_frame = std::max(next_frame + kFrameInterval, Clock::now());
            for (auto& each : m_instances) {
                Paint(*each, rng);
                ++ops["paints"];
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    // Every instance back from the audio threads, then closed here.
    for (auto& in : m_instances) {
        std::lock_guard<std::mutex> guard(in->lock);
        in->retire = true;
    }
    while (!m_instances.empty()) {
        CloseReturned();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    Gdiplus::GdiplusShutdown(token);
    m_stop = true;
}

// ---- The host's own drawing --------------------------------------------------------------------

// The host paints its own panels with the same graphics library on a thread of its own, as a host
// with more than one window does. It draws in the top quarter (a miter of its 1-pixel pen reaches a
// few pixels further); the lower half must keep the panel's colour: nothing drawn elsewhere may
// land in it.
void ThreadedHost::DrawingThread() {
    Ops& ops = m_ops[kAudioThreads + 1];
    std::mt19937 rng(static_cast<uint32_t>(m_options.seed * 17));
    ULONG_PTR token = 0;
    const Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    constexpr uint32_t kPanel = 0xFF336699u;
    while (!m_stop.load()) {
        const int w = static_cast<int>(8 + rng() % 400), h = static_cast<int>(24 + rng() % 200);
        LentSurface surface(w, h, 0);
        {
            Gdiplus::Graphics graphics(surface.Dc());
            graphics.SetSmoothingMode(rng() % 2 ? Gdiplus::SmoothingModeAntiAlias
                                                : Gdiplus::SmoothingModeNone);
            const Gdiplus::SolidBrush panel{Gdiplus::Color(kPanel)};
            graphics.FillRectangle(&panel, -1, -1, w + 2, h + 2);
            Gdiplus::Point points[16];
            for (int i = 0; i < 16; ++i) {
                points[i] = Gdiplus::Point(i * (w - 1) / 15,
                                           static_cast<int>(rng() % static_cast<uint32_t>(h / 4)));
            }
            // A mirrored gradient and a translucent pen: the layer's own pixel paths, which the
            // view's paint takes too.
            Gdiplus::LinearGradientBrush fill(Gdiplus::Point(0, 0), Gdiplus::Point(w, h / 4),
                                              Gdiplus::Color(0xC0FF0000u),
                                              Gdiplus::Color(0x8000FF00u));
            fill.SetWrapMode(Gdiplus::WrapModeTileFlipX);
            graphics.FillPolygon(&fill, points, 16);
            const Gdiplus::Pen pen(Gdiplus::Color(0xC0FFFFFFu));
            graphics.DrawLines(&pen, points, 16);
        }
        for (int y = h / 2; y < h; ++y) {
            const uint32_t* row = surface.FlushedRow(y);
            for (int x = 0; x < w; ++x) {
                if (row[x] != kPanel) {
                    Fail("the host's own " + std::to_string(w) + "x" + std::to_string(h) +
                         " panel changed at " + std::to_string(x) + "," + std::to_string(y) +
                         " to " + std::to_string(row[x]));
                    y = h;
                    break;
                }
            }
        }
        ++ops["panels"];
    }
    Gdiplus::GdiplusShutdown(token);
}

ThreadedReport ThreadedHost::Run() {
    g_host = this;
    std::vector<std::thread> threads;
    for (int i = 0; i < kAudioThreads; ++i) {
        threads.emplace_back(&ThreadedHost::AudioThread, this, i);
    }
    threads.emplace_back(&ThreadedHost::DrawingThread, this);
    threads.emplace_back(&ThreadedHost::UiThread, this);
    for (auto& t : threads) {
        t.join();
    }
    g_host = nullptr;
    const char* names[] = {"audio thread 1", "audio thread 2", "UI thread", "drawing thread"};
    for (int i = 0; i < kAudioThreads + 2; ++i) {
        m_report.ops[names[i]] = m_ops[i];
    }
    return m_report;
}

} // namespace

ThreadedReport RunThreaded(const sehost::ModuleLibrary& library, const ThreadedOptions& options) {
    ThreadedHost host(library, options);
    return host.Run();
}

int RunThreadedCommand(const sehost::ModuleLibrary& library, const ThreadedOptions& options) {
    const ThreadedReport report = RunThreaded(library, options);
    std::printf("validate --threads: seed %llu, %.1f s at %.0f Hz: %s\n",
                static_cast<unsigned long long>(options.seed), options.seconds,
                static_cast<double>(options.sample_rate), report.Passed() ? "PASS" : "FAIL");
    for (const auto& [thread, ops] : report.ops) {
        std::printf("  %s:", thread.c_str());
        for (const auto& [name, count] : ops) {
            std::printf(" %s %llu;", name.c_str(), static_cast<unsigned long long>(count));
        }
        std::printf("\n");
    }
    for (const std::string& f : report.failures) {
        std::printf("  failed: %s\n", f.c_str());
    }
    if (report.failure_count > report.failures.size()) {
        std::printf("  (%llu failures in all)\n",
                    static_cast<unsigned long long>(report.failure_count));
    }
    return report.Passed() ? 0 : 1;
}

} // namespace validator

#if defined(__SANITIZE_THREAD__)
// libcairo is not built with the sanitizer: its pools of freed objects hand memory from one thread
// to the next with atomic operations that ThreadSanitizer cannot see, so the first copy into a
// reused object looks like a race. Calls of intercepted functions made by libcairo itself are left
// out; everything the project's own code does is still watched.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libcairo.so.2\n";
}
#endif
