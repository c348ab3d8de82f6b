// The plug-in's audio half: hosts the module's audio side with the hosting library, as the
// reference host does, feeding it the control ports' values and the view's replies, and carries
// its display messages to the view over the notify port.
#pragma once

#include "AudioSideHost.h"
#include "Protocol.h" // and the LV2 headers

#include <cstdint>
#include <memory>
#include <vector>

namespace lv2dsp {

class DspPlugin : private sehost::AudioSideHost::Owner {
public:
    // Returns null, after telling the host's log (or stderr) why, when the rate is unusable or
    // the module in the bundle cannot be loaded or refuses. Without the host's URID map it
    // says so and runs as a pass-through whose messages are all dropped.
    static DspPlugin* Create(double sample_rate, const char* bundle_path,
                             const LV2_Feature* const* features);
    ~DspPlugin() override = default; // closes the audio side
    DspPlugin(const DspPlugin&) = delete;
    DspPlugin& operator=(const DspPlugin&) = delete;

    void Connect(uint32_t port, void* data);
    // Allocates nothing and takes no lock.
    void Run(uint32_t count);

    int64_t Dropped() const { return m_dropped; }
    int64_t Sent() const { return m_sent; }

private:
    DspPlugin() = default;
    // Throws sehost::HostError, saying why, when the plug-in cannot run.
    void Open(double sample_rate, const char* bundle, const LV2_Feature* const* features,
              const LV2_URID_Map* map);

    float* PinBuffer(int32_t plug) override;
    void SendToView(int32_t index, int32_t value, const void* data) override;
    void ReadControls();
    void ReadMessages();
    void BeginNotify();
    void SendMessage(LV2_URID type, const void* body, uint32_t size);

    // Declared in the order they are made, so that the side closes before its library goes.
    std::unique_ptr<sehost::ModuleLibrary> m_library;
    sehost::PlugValues m_state;
    std::unique_ptr<sehost::AudioSideHost> m_side;
    lv2proto::PortLayout m_layout;
    int32_t m_block_size = 0;

    lv2proto::MessageUrids m_urids; // all 0 without the host's map

    const float* m_in = nullptr;
    float* m_out = nullptr;
    const LV2_Atom_Sequence* m_control = nullptr;
    LV2_Atom_Sequence* m_notify = nullptr;
    std::vector<const float*> m_control_ports; // by control port, from lv2proto::kFirstControlPort
    // The control ports of the audio side's plugs, with the port value each last saw.
    struct AudioControl {
        uint32_t slot; // in m_control_ports
        const sehost::PlugInfo* plug;
        PlugRange range;
        uint32_t seen;
        bool seen_valid;
    };
    std::vector<AudioControl> m_audio_controls;

    // The notify port's capacity in body bytes during run(), 0 when nothing fits.
    uint32_t m_notify_capacity = 0;
    bool m_in_run = false;

    int64_t m_dropped = 0;
    int64_t m_sent = 0;
};

} // namespace lv2dsp
