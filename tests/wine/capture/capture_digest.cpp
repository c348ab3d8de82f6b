// Plays signals that stress the capture arithmetic (non-numbers, infinities, denormals, huge
// values, values beyond full scale) at many sample rates, in every display type with changes of
// type and a hold on the way, through one instance each, and prints one line per case: how many
// messages reached the view and one digest of everything the host relayed. Built for Linux and for
// Windows: under Wine the Windows DLLs, which do their own arithmetic (the 32-bit one with the x87
// unit), must print what Module.so prints, whose frames and peaks the validator holds against its
// model.
//
//   capture_digest MODULE
//
// Every sample is made from integers and exact bit patterns, so each build plays the same bits.
#include "HostError.h"
#include "Instance.h"
#include "ModuleLibrary.h"

#include <cstdio>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr double kSeconds = 0.45; // two of the longest periods
constexpr float kRates[] = {8000, 11025, 22050, 44100, 48000, 88200, 96000};
constexpr int32_t kBlocks[] = {16, 64, 100, 256, 1000};

float FromBits(uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// Noise in [-1, 1) with 24 significant bits: exact on every platform.
class Noise {
public:
    float Next() {
        m_state = m_state * 1664525u + 1013904223u;
        return static_cast<float>(static_cast<int32_t>(m_state >> 8) - (1 << 23)) /
               static_cast<float>(1 << 23);
    }
    uint32_t Bits() {
        Next();
        return m_state;
    }

private:
    uint32_t m_state = 12345;
};

const char* const kSignals[] = {"triangle",         "noise", "nan", "infinity", "denormal", "huge",
                                "beyond-full-scale"};

std::vector<float> MakeSignal(int kind, size_t count) {
    std::vector<float> s(count);
    Noise noise;
    for (size_t i = 0; i < count; ++i) {
        const float n = noise.Next();
        switch (kind) {
        case 0: { // a triangle of period 97 that crosses zero rising once a period
            const int32_t t = static_cast<int32_t>(i % 97);
            s[i] = static_cast<float>(t < 49 ? t - 24 : 73 - t) / 32.0f;
            break;
        }
        case 1:
            s[i] = n;
            break;
        case 2:
            s[i] = i % 37 == 0 ? FromBits(i % 74 == 0 ? 0x7FC00000u : 0xFFC00001u) : n;
            break;
        case 3:
            s[i] = i % 53 == 0 ? FromBits(i % 106 == 0 ? 0x7F800000u : 0xFF800000u) : n;
            break;
        case 4: // denormals of either sign, and zeros
            s[i] = i % 5 == 0 ? 0.0f : FromBits(noise.Bits() & 0x807FFFFFu);
            break;
        case 5: // powers of two apart, and the largest float
            s[i] = i % 41 == 0 ? FromBits(i % 82 == 0 ? 0x7F7FFFFFu : 0xFF7FFFFFu)
                               : n * 1267650600228229401496703205376.0f; // 2^100
            break;
        default: // up to four times full scale
            s[i] = n * 4.0f;
            break;
        }
    }
    return s;
}

uint32_t Mix(uint32_t hash, uint32_t value) {
    for (int k = 0; k < 4; ++k) {
        hash = (hash ^ ((value >> (8 * k)) & 0xFF)) * 16777619u;
    }
    return hash;
}

uint32_t Parse(const sehost::Instance& instance, const std::string& plug, const std::string& text) {
    const sehost::PlugInfo* info = instance.FindPlug(plug);
    std::string error = "no plug " + plug;
    const auto bits = info ? sehost::ParsePlugValue(*info, text, error) : std::nullopt;
    if (!bits) {
        throw sehost::HostError(error);
    }
    return *bits;
}

// One case: half the signal in the first display type, then (in the middle of a frame or
// period) three tenths in the second, a tenth held, and the rest on again.
void RunCase(const sehost::ModuleLibrary& library, const sehost::InstanceSettings& settings,
             const std::vector<float>& signal, const std::string& first, const std::string& second,
             const char* signal_name) {
    sehost::Instance instance(library, settings);
    const int32_t display = instance.FindPlug("Display Type")->index;
    const int32_t active = instance.FindPlug("Active")->index;
    uint32_t digest = 2166136261u;
    int64_t receives = 0;
    instance.OnRelay([&](const sehost::Relay& r) {
        receives += r.kind == sehost::Relay::VIEW_RECEIVE;
        for (const int64_t v : {int64_t(r.kind), r.clock, int64_t(r.index), int64_t(r.value)}) {
            digest = Mix(digest, static_cast<uint32_t>(v));
        }
        digest = Mix(digest, r.digest);
    });
    const int64_t count = static_cast<int64_t>(signal.size());
    const struct {
        int32_t plug;
        uint32_t bits;
        int64_t until;
    } steps[] = {{active, Parse(instance, "Active", "ON"), 0},
                 {display, Parse(instance, "Display Type", first), count / 2},
                 {display, Parse(instance, "Display Type", second), count * 8 / 10},
                 {active, Parse(instance, "Active", "HOLD"), count * 9 / 10},
                 {active, Parse(instance, "Active", "ON"), count}};
    int64_t played = 0;
    for (const auto& step : steps) {
        instance.SetPlug(step.plug, step.bits);
        instance.Run(signal.data() + played, step.until - played);
        played = step.until;
    }
    std::printf("%6.0f Hz, %-18s %-22s block %4d: %5lld to the view, %08x\n",
                static_cast<double>(settings.sample_rate), signal_name,
                (first + ">" + second).c_str(), settings.block_size,
                static_cast<long long>(receives), digest);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: capture_digest MODULE\n");
        return 2;
    }
    try {
        const auto library = sehost::ModuleLibrary::Load(argv[1]);
        std::vector<std::string> types;
        {
            sehost::Instance probe(*library, sehost::InstanceSettings{});
            const sehost::PlugInfo* display = probe.FindPlug("Display Type");
            if (display == nullptr || probe.FindPlug("Active") == nullptr) {
                throw sehost::HostError("no Display Type or Active plug");
            }
            for (const sehost::Choice& c : display->choices) {
                types.push_back(c.name);
            }
        }
        size_t number = 0;
        for (const float rate : kRates) {
            for (size_t kind = 0; kind < std::size(kSignals); ++kind) {
                const std::vector<float> signal =
                    MakeSignal(static_cast<int>(kind), static_cast<size_t>(rate * kSeconds));
                for (size_t type = 0; type < types.size(); ++type) {
                    sehost::InstanceSettings settings;
                    settings.sample_rate = rate;
                    settings.block_size = kBlocks[number++ % std::size(kBlocks)];
                    settings.frames_per_second = 4;
                    settings.width = 16;
                    settings.height = 8;
                    RunCase(*library, settings, signal, types[type],
                            types[(type + 1) % types.size()], kSignals[kind]);
                }
            }
        }
    } catch (const sehost::HostError& e) {
        std::fprintf(stderr, "capture_digest: %s\n", e.what());
        return 1;
    }
    return 0;
}
