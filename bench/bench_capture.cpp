// The capture routine on the host's audio path, per display mode and block size, in ns per
// input sample (items processed), next to a plain memcpy of the same block.
//
// The host here answers every request at once and the GUI side answers every frame message at
// once (AUDIO_OP_GUI_NOTIFY after the block that sent it), so the sample modes capture all the
// time: a block longer than what is left of a frame ends its frame and skips its rest, as the
// engine does, so with blocks above 800 samples part of each block is not looked at.
#include "CaptureRig.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using namespace capture_bench;

void BM_Capture(benchmark::State& state) {
    CaptureBlocks(state);
}

void BM_Memcpy(benchmark::State& state) {
    const int32_t block = static_cast<int32_t>(state.range(0));
    std::vector<float> source = Signal(static_cast<size_t>(block));
    std::vector<float> target(static_cast<size_t>(block));
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), sizeof(float) * static_cast<size_t>(block));
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * block);
}

void Blocks(benchmark::internal::Benchmark* bench) {
    for (int mode : {MODE_SAMPLE_SYNC, MODE_SAMPLE, MODE_PEAK_1MS, MODE_PEAK_200MS, MODE_OFF}) {
        for (int block : {16, 64, 256, 1024, 4096}) {
            bench->Args({mode, block});
        }
    }
}

} // namespace

// Arguments: mode (0 Sample Sync, 1 Sample, 2 peak 1ms, 3 peak 200ms, 4 OFF), block size.
BENCHMARK(BM_Capture)->ArgNames({"mode", "block"})->Apply(Blocks);
BENCHMARK(BM_Memcpy)->ArgName("block")->Arg(16)->Arg(64)->Arg(256)->Arg(1024)->Arg(4096);

BENCHMARK_MAIN();
