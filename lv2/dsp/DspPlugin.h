// The plug-in's audio half: hosts the module's audio side with the hosting library, as the
// reference host does, feeding it the control ports' values and the view's replies, and carries
// its display messages to the view over the notify port. The stereo plug-in passes two channels
// through and gives its one module instance the channel its "Channel" port chooses, or the mix.
#pragma once

#include "AudioSideHost.h"
#include "PairMix.h"
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
    static DspPlugin* Create(const lv2proto::PluginKind& kind, double sample_rate,
                             const char* bundle_path, const LV2_Feature* const* features);
    ~DspPlugin() override = default; // closes the audio side
    DspPlugin(const DspPlugin&) = delete;
    DspPlugin& operator=(const DspPlugin&) = delete;

    void Connect(uint32_t port, void* data);
    // Allocates nothing and takes no lock.
    void Run(uint32_t count);

    const lv2proto::PortLayout& Ports() const { return m_layout; }
    int64_t Dropped() const { return m_dropped; }
    int64_t Sent() const { return m_sent; }

private:
    explicit DspPlugin(bool stereo) : m_stereo(stereo) {}
    // Throws sehost::HostError, saying why, when the plug-in cannot run.
    void Open(double sample_rate, const char* bundle, const LV2_Feature* const* features,
              const LV2_URID_Map* map);

    float* PinBuffer(int32_t plug) override;
    void SendToView(int32_t index, int32_t value, const void* data) override;
    void ReadControls();
    // The samples the module captures for count samples from offset: an input, the mix, or null
    // when the input they need is not connected.
    // copy_in_mix: the mix also writes the outputs (CanCopyInMix).
    const float* Captured(uint32_t offset, int32_t count, bool copy_in_mix);
    // The stereo plug-in's run of count pairs copies its outputs as it mixes: it shows the mix,
    // every buffer is connected, and no output shares a sample with another buffer.
    bool CanCopyInMix(uint32_t count) const;
    void PassThrough(uint32_t count);
    void ReadMessages();
    void BeginNotify();
    // The body of a new event of size bytes at the end of the notify port, or null, counted
    // as dropped, when it does not fit or no run is under way.
    void* AppendEvent(LV2_URID type, uint32_t size);

    // Declared in the order they are made, so that the side closes before its library goes.
    std::unique_ptr<sehost::ModuleLibrary> m_library;
    sehost::PlugValues m_state;
    std::unique_ptr<sehost::AudioSideHost> m_side;
    lv2proto::PortLayout m_layout;
    int32_t m_block_size = 0;
    bool m_stereo;

    lv2proto::MessageUrids m_urids; // all 0 without the host's map

    // By channel, left first; the stereo plug-in's right channel only.
    const float* m_in[2] = {nullptr, nullptr};
    float* m_out[2] = {nullptr, nullptr};
    // What the audio side's input pin reads during a block.
    const float* m_captured = nullptr;
    // The stereo plug-in's "Channel" port and the channel it chose last.
    const float* m_channel_port = nullptr;
    lv2proto::ChannelControl m_channel;
    // One block of the mix, from m_mix_start within m_mix, and the routine that takes it.
    std::vector<float> m_mix;
    float* m_mix_start = nullptr;
    PairMixRoutine m_mix_routine = nullptr;
    const LV2_Atom_Sequence* m_control = nullptr;
    LV2_Atom_Sequence* m_notify = nullptr;
    // The control ports of the audio side's plugs, with the port value each last saw.
    struct AudioControl {
        const float* port;
        const sehost::PlugInfo* plug;
        PlugRange range;
        uint64_t seen; // the port's bits, or kNotSeen before the first read
    };
    static constexpr uint64_t kNotSeen = uint64_t{1} << 32; // no port's bits
    std::vector<AudioControl> m_audio_controls;
    // By control port, from lv2proto::kFirstControlPort: its entry in m_audio_controls, or -1
    // for the view's plugs.
    std::vector<int32_t> m_control_index;

    // The notify port's capacity in body bytes during run(), 0 when nothing fits.
    uint32_t m_notify_capacity = 0;
    bool m_in_run = false;

    int64_t m_dropped = 0;
    int64_t m_sent = 0;
};

} // namespace lv2dsp
