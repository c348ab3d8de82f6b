// The plug-in binary's one export: the descriptors of the bundle's plug-ins, mono and stereo,
// which route the host's calls to DspPlugin.
#include "DspPlugin.h"

#include <cstring>

namespace {

using lv2dsp::DspPlugin;

template <uint32_t kKind>
LV2_Handle Instantiate(const LV2_Descriptor*, double rate, const char* bundle_path,
                       const LV2_Feature* const* features) {
    return DspPlugin::Create(lv2proto::kPluginKinds[kKind], rate, bundle_path, features);
}

void ConnectPort(LV2_Handle instance, uint32_t port, void* data) {
    static_cast<DspPlugin*>(instance)->Connect(port, data);
}

void Run(LV2_Handle instance, uint32_t count) {
    static_cast<DspPlugin*>(instance)->Run(count);
}

void Cleanup(LV2_Handle instance) {
    delete static_cast<DspPlugin*>(instance);
}

int64_t Dropped(void* instance) {
    return static_cast<DspPlugin*>(instance)->Dropped();
}

int64_t Sent(void* instance) {
    return static_cast<DspPlugin*>(instance)->Sent();
}

const void* ExtensionData(const char* uri) {
    static const lv2proto::Counters counters = {&Dropped, &Sent};
    return std::strcmp(uri, lv2proto::kCountersUri) == 0 ? &counters : nullptr;
}

template <uint32_t kKind> constexpr LV2_Descriptor Descriptor() {
    return {lv2proto::kPluginKinds[kKind].uri,
            &Instantiate<kKind>,
            &ConnectPort,
            nullptr,
            &Run,
            nullptr,
            &Cleanup,
            &ExtensionData};
}

const LV2_Descriptor kDescriptors[] = {Descriptor<0>(), Descriptor<1>()};
static_assert(sizeof kDescriptors / sizeof kDescriptors[0] == lv2proto::kPluginKindCount);

} // namespace

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    return index < lv2proto::kPluginKindCount ? &kDescriptors[index] : nullptr;
}
