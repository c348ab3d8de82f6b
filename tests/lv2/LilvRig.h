// A small LV2 host on the lilv library for the plug-in's tests: it loads the built bundle,
// offers a URID map and a log, owns the port buffers and reads the messages on the notify port.
// It hosts the mono plug-in or the stereo one, whose outputs it may wire onto its inputs.
#pragma once

#include "Protocol.h"

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/log/log.h>
#include <lv2/urid/urid.h>

#include <cstdint>
#include <string>
#include <vector>

namespace lv2test {

// One message read from the notify port.
struct Message {
    bool frame = false;        // else a peak
    int32_t value = 0;         // a peak's value
    std::vector<uint8_t> data; // a frame's bytes
    bool operator==(const Message& o) const {
        return frame == o.frame && value == o.value && data == o.data;
    }
};

class LilvRig {
public:
    struct Options {
        double sample_rate = 48000.0;
        bool urid_map = true;
        uint32_t notify_capacity = 16384; // body bytes of the notify port
        uint32_t max_block = 8192;
        bool stereo = false;
        // Where the stereo plug-in's outputs go: their own buffers, the inputs' (in place) or
        // each the other channel's input.
        enum class Wiring { kSeparate, kInPlace, kCrossed } wiring = Wiring::kSeparate;
    };

    LilvRig();
    explicit LilvRig(const Options& options);
    ~LilvRig();
    LilvRig(const LilvRig&) = delete;
    LilvRig& operator=(const LilvRig&) = delete;

    bool Ready() const { return m_instance != nullptr; }
    const std::string& LogText() const { return m_log; }
    LV2_URID Map(const char* uri);

    // A port's index by symbol.
    uint32_t PortIndex(const std::string& symbol) const;
    // Sets a control port by symbol (the plug's value as a float).
    void Set(const std::string& symbol, float value);
    // Queues an atom for the control port's next run (body bytes as given).
    void QueueAtom(LV2_URID type, const void* body, uint32_t size);
    void QueueFrameRead(int32_t value = -1) { QueueAtom(Map(lv2proto::kFrameReadUri), &value, 4); }
    // Replaces the control port's sequence with raw bytes for the next run (malformed input).
    void QueueRawSequence(const std::vector<uint8_t>& bytes);

    // Runs one block of the given samples (the right channel's too for the stereo plug-in); the
    // output lands in Output(). Messages are appended to Messages().
    void Run(const float* input, uint32_t count, const float* right = nullptr);
    // The output buffer of a channel, 0 left, 1 right.
    const float* Output(int channel = 0) const { return m_outputs[channel]; }
    // Allocations made inside the plug-in's run() so far.
    size_t RunAllocations() const { return m_run_allocations; }
    std::vector<Message>& Messages() { return m_messages; }
    int64_t Dropped() const;
    // Whether the bytes just past the notify port's capacity are as the host left them.
    bool NotifyGuardIntact() const;

    // The descriptor, to instantiate by hand (another bundle path, other features).
    const LV2_Descriptor* Descriptor() const;
    const LV2_Feature* const* Features() const { return m_features.data(); }

private:
    static LV2_URID MapEntry(LV2_URID_Map_Handle handle, const char* uri);
    static int LogPrintf(LV2_Log_Handle handle, LV2_URID type, const char* format, ...);
    static int LogVprintf(LV2_Log_Handle handle, LV2_URID type, const char* format, va_list args);
    void ReadNotify();

    Options m_options;
    LilvWorld* m_world = nullptr;
    const LilvPlugin* m_plugin = nullptr;
    LilvInstance* m_instance = nullptr;
    std::vector<std::string> m_uris;
    LV2_URID_Map m_map{};
    LV2_Log_Log m_log_feature{};
    LV2_Feature m_map_feature{};
    LV2_Feature m_log_feature_entry{};
    std::vector<const LV2_Feature*> m_features;
    std::string m_log;

    std::vector<float> m_in[2];
    std::vector<float> m_out[2];
    float* m_outputs[2] = {nullptr, nullptr}; // as wired
    std::vector<float> m_controls;
    std::vector<uint64_t> m_control_seq; // 8-byte aligned atom buffers
    std::vector<uint64_t> m_notify_seq;
    std::vector<Message> m_messages;
    size_t m_run_allocations = 0;
};

// The bundle folder under test (set at build time).
const char* BundleDir();

} // namespace lv2test
