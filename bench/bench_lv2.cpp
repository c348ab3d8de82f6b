// The plug-in's run() per input sample beside the bare capture routine, per display mode and
// block size: what the plug-in adds is the control ports, the atom ports and the pass-through.
// The stereo plug-in's run() per sample pair adds the mix and a second pass-through.
//
// Both play the same signal at 44.1 kHz and answer every frame at once: the bare host right
// after the block, the plug-in's host with a "frame read" atom in the next run().
#include "CaptureRig.h"
#include "DspPlugin.h"

#include <benchmark/benchmark.h>
#include <lv2/atom/util.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using namespace capture_bench;

std::vector<std::string> g_uris;

LV2_URID MapUri(LV2_URID_Map_Handle, const char* uri) {
    for (size_t i = 0; i < g_uris.size(); ++i) {
        if (g_uris[i] == uri) {
            return static_cast<LV2_URID>(i + 1);
        }
    }
    g_uris.emplace_back(uri);
    return static_cast<LV2_URID>(g_uris.size());
}

float DisplayType(Mode mode) {
    switch (mode) {
    case MODE_SAMPLE_SYNC:
        return -1.0f;
    case MODE_PEAK_1MS:
        return 1.0f;
    case MODE_PEAK_200MS:
        return 10.0f;
    default:
        return 0.0f;
    }
}

void BM_Capture(benchmark::State& state) {
    CaptureBlocks(state);
}

void RunPlugin(benchmark::State& state, bool stereo) {
    const auto mode = static_cast<Mode>(state.range(0));
    const auto block = static_cast<uint32_t>(state.range(1));
    const size_t blocks = 64;
    // The stereo plug-in's right channel reads the same signal 100 samples on, so that both
    // channels take the cache that the mono one does, as a host's buffers lie in the cache it has
    // just written them from.
    constexpr size_t kRightLead = 100;
    std::vector<float> signal = Signal(static_cast<size_t>(block) * blocks + kRightLead);
    std::vector<float> out(block), out_right(block);

    LV2_URID_Map map{nullptr, &MapUri};
    const LV2_Feature map_feature{LV2_URID__map, &map};
    const LV2_Feature* features[] = {&map_feature, nullptr};
    std::unique_ptr<lv2dsp::DspPlugin> plugin(lv2dsp::DspPlugin::Create(
        lv2proto::kPluginKinds[stereo ? 1 : 0], 44100.0, STRIP_VIEWER_BUNDLE_DIR, features));
    if (!plugin) {
        state.SkipWithError("the plug-in did not start");
        return;
    }
    const LV2_URID sequence = MapUri(nullptr, LV2_ATOM__Sequence);
    const LV2_URID frame = MapUri(nullptr, lv2proto::kFrameUri);
    const LV2_URID frame_read = MapUri(nullptr, lv2proto::kFrameReadUri);
    constexpr uint32_t kCapacity = 1 << 16;
    std::vector<uint64_t> control(64), notify(kCapacity / 8 + 1);
    auto* control_seq = reinterpret_cast<LV2_Atom_Sequence*>(control.data());
    auto* notify_seq = reinterpret_cast<LV2_Atom_Sequence*>(notify.data());
    float display_type = DisplayType(mode);
    float active = mode == MODE_OFF ? 0.0f : 1.0f;
    plugin->Connect(lv2proto::kPortAudioOut, out.data());
    plugin->Connect(lv2proto::kPortControl, control_seq);
    plugin->Connect(lv2proto::kPortNotify, notify_seq);
    plugin->Connect(lv2proto::kFirstControlPort, &display_type);
    plugin->Connect(lv2proto::kFirstControlPort + 1, &active);
    const lv2proto::StereoPorts& ports = plugin->Ports().stereo_ports;
    float channel = lv2proto::kChannelMix;
    if (stereo) {
        plugin->Connect(ports.out_right, out_right.data());
        plugin->Connect(ports.channel, &channel);
    }

    struct {
        LV2_Atom_Event event;
        int32_t value;
    } reply{};
    reply.event.body.type = frame_read;
    reply.event.body.size = sizeof(int32_t);
    reply.value = -1;
    bool answer = false;
    size_t next = 0;
    for (auto _ : state) {
        control_seq->atom.type = sequence;
        control_seq->atom.size = sizeof(LV2_Atom_Sequence_Body);
        if (answer) {
            lv2_atom_sequence_append_event(control_seq, 64 * 8 - sizeof(LV2_Atom), &reply.event);
        }
        notify_seq->atom.size = kCapacity - sizeof(LV2_Atom);
        plugin->Connect(lv2proto::kPortAudioIn, signal.data() + next * block);
        if (stereo) {
            plugin->Connect(ports.in_right, signal.data() + next * block + kRightLead);
        }
        plugin->Run(block);
        answer = false;
        LV2_ATOM_SEQUENCE_FOREACH(notify_seq, event) {
            answer = answer || event->body.type == frame;
        }
        next = next + 1 == blocks ? 0 : next + 1;
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * block);
    state.counters["dropped"] = static_cast<double>(plugin->Dropped());
}

void BM_Run(benchmark::State& state) {
    RunPlugin(state, false);
}

// Items are sample pairs.
void BM_RunStereo(benchmark::State& state) {
    RunPlugin(state, true);
}

void Blocks(benchmark::internal::Benchmark* bench) {
    for (int mode : {MODE_SAMPLE_SYNC, MODE_PEAK_1MS, MODE_PEAK_200MS, MODE_OFF}) {
        for (int block : {64, 256, 1024, 4096}) {
            bench->Args({mode, block});
        }
    }
}

} // namespace

// Arguments: mode (0 Sample Sync, 2 peak 1ms, 3 peak 200ms, 4 OFF), block size.
BENCHMARK(BM_Capture)->ArgNames({"mode", "block"})->Apply(Blocks);
BENCHMARK(BM_Run)->ArgNames({"mode", "block"})->Apply(Blocks);
BENCHMARK(BM_RunStereo)->ArgNames({"mode", "block"})->Apply(Blocks);

BENCHMARK_MAIN();
