// The plug-in's audio half: hosts the module's audio side exactly as the reference host does
// (plug variables, pin-status events stamped with the sample clock, the process routine) and
// carries its display messages to the view over the notify port.
#pragma once

#include "ModuleLibrary.h"
#include "PlugTable.h"
#include "Protocol.h"
#include "se_types.h"

#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/log/log.h>
#include <lv2/urid/urid.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace lv2dsp {

// The data of the feature with this URI in a host's list, or null.
const void* FeatureData(const LV2_Feature* const* features, const char* uri);

class DspPlugin {
public:
    // Returns null, after telling the host's log (or stderr) why, when the rate is unusable or
    // the module in the bundle cannot be loaded or refuses. Without the host's URID map it
    // says so and runs as a pass-through whose messages are all dropped.
    static DspPlugin* Create(double sample_rate, const char* bundle_path,
                             const LV2_Feature* const* features);
    ~DspPlugin(); // closes the audio side
    DspPlugin(const DspPlugin&) = delete;
    DspPlugin& operator=(const DspPlugin&) = delete;

    void Connect(uint32_t port, void* data);
    // Allocates nothing and takes no lock.
    void Run(uint32_t count);

    int64_t Dropped() const { return m_dropped; }
    int64_t Sent() const { return m_sent; }

private:
    DspPlugin() = default;
    bool Open(double sample_rate, const std::string& bundle, const LV2_Feature* const* features,
              const LV2_URID_Map* map, std::string& error);

    static intptr_t HostEntry(void* plug, int32_t opcode, int32_t index, int32_t value, void* ptr,
                              float opt);
    intptr_t AudioRequest(int32_t opcode, int32_t index, int32_t value, void* ptr);
    intptr_t CallAudio(int32_t opcode, int32_t index = 0, int32_t value = 0, void* ptr = nullptr,
                       float opt = 0.0f);
    void AnnouncePin(const sehost::PlugInfo& plug);
    void ReadControls();
    void ReadMessages();
    void BeginNotify();
    void SendMessage(LV2_URID type, const void* body, uint32_t size);
    int32_t SampleClock32() const { return static_cast<int32_t>(static_cast<uint32_t>(m_clock)); }

    std::unique_ptr<sehost::ModuleLibrary> m_library;
    AudioPlugRecord* m_audio = nullptr;
    std::vector<sehost::PlugInfo> m_plugs;
    lv2proto::PortLayout m_layout;
    std::vector<uint32_t> m_values; // by plug index, raw bits
    int32_t m_pin_count = 0;
    int32_t m_block_size = 0;

    LV2_URID m_urid_sequence = 0;
    LV2_URID m_urid_frame = 0;
    LV2_URID m_urid_peak = 0;
    LV2_URID m_urid_frame_read = 0;

    const float* m_in = nullptr;
    float* m_out = nullptr;
    const LV2_Atom_Sequence* m_control = nullptr;
    LV2_Atom_Sequence* m_notify = nullptr;
    std::vector<const float*> m_control_ports; // by control port, from lv2proto::kFirstControlPort
    // The control ports of the audio side's plugs, with the port value each last saw.
    struct AudioControl {
        uint32_t slot; // in m_control_ports
        const sehost::PlugInfo* plug;
        lv2proto::PlugRange range;
        uint32_t seen;
        bool seen_valid;
    };
    std::vector<AudioControl> m_audio_controls;

    // The notify port's capacity in body bytes during run(), 0 when nothing fits.
    uint32_t m_notify_capacity = 0;
    bool m_in_run = false;

    int64_t m_clock = 0;
    int64_t m_dropped = 0;
    int64_t m_sent = 0;
};

} // namespace lv2dsp
