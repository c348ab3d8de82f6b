// The view's costs: a paint of each style, with and without rebuilding the points, into a lent
// Cairo image surface; and one peak and one frame message received.
#include "GuiModule.h"
#include "cairo_dc.h"
#include "plugs.h"
#include "se_types.h"

#include <benchmark/benchmark.h>
#include <cairo.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

int32_t g_plugs[PLUG_COUNT];
float g_magnify = 1.0f;

// A host that answers plug reads from g_plugs and ignores everything else.
intptr_t Host(void*, int32_t opcode, int32_t index, int32_t, void* ptr, float) {
    if (opcode == GUI_RQ_GET_PIN_VALUE && index >= 0 && index < PLUG_COUNT) {
        if (index == PLUG_MAGNIFY) {
            std::memcpy(ptr, &g_magnify, 4);
        } else {
            std::memcpy(ptr, &g_plugs[index], 4);
        }
    }
    return 0;
}

extern "C" void* makeModule(int32_t, int32_t, HostCallback, intptr_t);

struct View {
    explicit View(int32_t mode) {
        const int32_t values[PLUG_COUNT] = {0,   0,   ACTIVE_ON, 0,   16,  16,  32,  255, 192, 192,
                                            192, 255, 255,       255, 255, 128, 100, 60,  mode};
        std::memcpy(g_plugs, values, sizeof values);
        plug = static_cast<GuiPlugRecord*>(makeModule(0, MODULE_TYPE_GUI, &Host, 0));
        plug->dispatcher(plug, GUI_OP_INITIALISE, 1, 0, nullptr, 0.0f);
        // A sine frame, so that the polygon has a real outline.
        std::vector<uint8_t> frame(800);
        for (int i = 0; i < 800; ++i) {
            frame[i] = static_cast<uint8_t>(128 + std::lround(110 * std::sin(i * 0.05)));
        }
        Receive(frame.data(), 800, 0);
    }
    ~View() { plug->dispatcher(plug, GUI_OP_CLOSE, 0, 0, nullptr, 0.0f); }
    void Receive(void* data, int32_t index, int32_t value) {
        plug->dispatcher(plug, GUI_OP_RECEIVE, index, value, data, 0.0f);
    }
    void Paint(int32_t dc, int32_t* size) {
        plug->dispatcher(plug, GUI_OP_PAINT, dc, 0, size, 0.0f);
    }
    GuiPlugRecord* plug;
};

// Arguments: style (0 Line, 1 Solid, 2 Line+Smooth, 3 Solid+Smooth), height, rebuild.
void BM_Paint(benchmark::State& state) {
    const int32_t mode = static_cast<int32_t>(state.range(0));
    const int32_t height = static_cast<int32_t>(state.range(1));
    const bool rebuild = state.range(2) != 0;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 800, height);
    const HDC dc = CairoDcLend(surface);
    const int32_t handle = static_cast<int32_t>(reinterpret_cast<intptr_t>(dc));
    View view(mode);
    int32_t sizes[2][2] = {{799, height}, {798, height}};
    int which = 0;
    view.Paint(handle, sizes[0]);
    for (auto _ : state) {
        // A rebuild is forced by alternating the width by one column.
        if (rebuild) {
            which ^= 1;
        }
        view.Paint(handle, sizes[which]);
    }
    static const char* const kStyles[] = {"Line", "Solid", "Line+Smooth", "Solid+Smooth"};
    state.SetLabel(kStyles[mode & 3]);
    CairoDcReturn(dc);
    cairo_surface_destroy(surface);
}
BENCHMARK(BM_Paint)
    ->ArgNames({"style", "height", "rebuild"})
    ->ArgsProduct({{0, 1, 2, 3}, {100, 400}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

void BM_ReceivePeak(benchmark::State& state) {
    View view(0);
    for (auto _ : state) {
        view.Receive(nullptr, 0, static_cast<int32_t>(0xFF002040u));
    }
}
BENCHMARK(BM_ReceivePeak);

void BM_ReceiveFrame(benchmark::State& state) {
    View view(0);
    std::vector<uint8_t> frame(800);
    for (int i = 0; i < 800; ++i) {
        frame[i] = static_cast<uint8_t>(i * 7);
    }
    for (auto _ : state) {
        view.Receive(frame.data(), 800, 0);
        benchmark::DoNotOptimize(frame.data());
    }
}
BENCHMARK(BM_ReceiveFrame);

} // namespace

BENCHMARK_MAIN();
