// Fuzzes the view: the input bytes become display messages of any value, count and data, plug
// changes to any value (plug index included), paints of any size and stray opcodes. A crash, a
// sanitizer report, an allocation or lock in Receive or PinChanged, a frame answered other than
// once, a peak answered at all, a second redraw request between paints, or a paint drawing beyond
// the widest view ends the run.
#include "FuzzSupport.h"
#include "cairo_dc.h"
#include "plugs.h"
#include "se_types.h"

#include <cairo.h>
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr int32_t kCanvasWidth = 900;
constexpr int32_t kCanvasHeight = 24;
constexpr int32_t kUntouchedFromColumn = 802;
constexpr uint32_t kSentinel = 0xFF13579Bu;

struct ViewHost {
    GuiPlugRecord* view = nullptr;
    uint32_t values[PLUG_COUNT + 2] = {};
    int32_t notifies = 0;
    bool notify_form_ok = true;
    int32_t invalidates = 0;
    cairo_surface_t* canvas = nullptr;
};

ViewHost* g_host = nullptr;

intptr_t Callback(void* plug, int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
    const probe::HostScope scope;
    ViewHost& h = *g_host;
    FUZZ_CHECK(h.view == nullptr || plug == h.view, "a request with a record not the caller's");
    switch (opcode) {
    case GUI_RQ_INVALIDATE:
        FUZZ_CHECK(++h.invalidates <= 1, "a second redraw request before the paint");
        return 0;
    case GUI_RQ_NOTIFY_AUDIO:
        ++h.notifies;
        h.notify_form_ok = h.notify_form_ok && value == -1 && index == 0 && ptr == nullptr;
        return 0;
    case GUI_RQ_GET_PIN_VALUE: {
        FUZZ_CHECK(ptr != nullptr, "a plug read without a location");
        const uint32_t bits = index >= 0 && index < PLUG_COUNT ? h.values[index] : 0;
        std::memcpy(ptr, &bits, sizeof bits);
        return 1;
    }
    case GUI_RQ_SET_PIN_VALUE:
        FUZZ_CHECK(index >= 0 && index < PLUG_COUNT, "a write to a plug the module lacks");
        if (index == PLUG_MAGNIFY) {
            std::memcpy(&h.values[index], &opt, sizeof opt);
        } else {
            h.values[index] = static_cast<uint32_t>(value);
        }
        return 1;
    case GUI_RQ_3:
    case GUI_RQ_4:
    case GUI_RQ_22:
        return 0;
    default:
        FUZZ_CHECK(false, "an unknown request from the view");
        return 0;
    }
}

void Create(ViewHost& h, FuzzedDataProvider& in) {
    for (uint32_t& v : h.values) {
        v = in.ConsumeBool() ? in.ConsumeIntegral<uint32_t>()
                             : in.ConsumeIntegralInRange<uint32_t>(0, 3);
    }
    h.view = nullptr;
    h.invalidates = 0; // a new view owes no paint yet
    h.view = static_cast<GuiPlugRecord*>(makeModule(0, MODULE_TYPE_GUI, &Callback, 2));
    FUZZ_CHECK(h.view != nullptr, "makeModule made no view");
    h.view->dispatcher(h.view, GUI_OP_INITIALISE, in.ConsumeIntegral<int32_t>(), 0, nullptr, 0.0f);
}

void Close(ViewHost& h) {
    FUZZ_CHECK(h.view->dispatcher(h.view, GUI_OP_CLOSE, 0, 0, nullptr, 0.0f) == 1,
               "GUI_OP_CLOSE did not answer 1");
    h.view = nullptr;
}

void Receive(ViewHost& h, int32_t value, int32_t index, void* data) {
    const bool frame = (static_cast<uint32_t>(value) & 0xFF000000u) == 0;
    h.notifies = 0;
    h.notify_form_ok = true;
    probe::Begin();
    h.view->dispatcher(h.view, GUI_OP_RECEIVE, index, value, data, 0.0f);
    fuzz::CheckQuiet(probe::End(), 0, "GUI_OP_RECEIVE");
    FUZZ_CHECK(h.notifies == (frame ? 1 : 0) && h.notify_form_ok,
               frame ? "a frame message not answered exactly once" : "a peak message answered");
}

int32_t Extent(FuzzedDataProvider& in) {
    const int32_t odd[] = {INT32_MIN, -1, 0, 1, 2, 24, 799, 800, 801, 900, 1 << 20, INT32_MAX};
    return in.ConsumeBool() ? odd[in.ConsumeIntegralInRange<size_t>(0, 11)]
                            : in.ConsumeIntegral<int32_t>();
}

void Paint(ViewHost& h, FuzzedDataProvider& in) {
    int32_t size[2] = {Extent(in), Extent(in)};
    unsigned char* pixels = cairo_image_surface_get_data(h.canvas);
    const int stride = cairo_image_surface_get_stride(h.canvas);
    for (int32_t y = 0; y < kCanvasHeight; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(pixels + y * stride);
        std::fill(row, row + kCanvasWidth, kSentinel);
    }
    cairo_surface_mark_dirty(h.canvas);
    HDC dc = CairoDcLend(h.canvas);
    h.view->dispatcher(h.view, GUI_OP_PAINT, static_cast<int32_t>(reinterpret_cast<intptr_t>(dc)),
                       0, size, 0.0f);
    CairoDcReturn(dc);
    h.invalidates = 0;
    cairo_surface_flush(h.canvas);
    for (int32_t y = 0; y < kCanvasHeight; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(pixels + y * stride);
        FUZZ_CHECK(std::all_of(row + kUntouchedFromColumn, row + kCanvasWidth,
                               [](uint32_t p) { return p == kSentinel; }),
                   "the paint drew beyond the widest view");
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::InstallAllocationHooks();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    ViewHost h;
    g_host = &h;
    h.canvas = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kCanvasWidth, kCanvasHeight);
    Create(h, in);
    int steps = 0;
    while (in.remaining_bytes() > 0 && ++steps < 200) {
        switch (in.ConsumeIntegralInRange<int>(0, 6)) {
        case 0: {
            // A frame message of any count; the data, when there is any, holds exactly the bytes
            // that the view may read (the count, at most 800).
            const int32_t count = in.ConsumeBool() ? in.ConsumeIntegralInRange<int32_t>(-2, 1000)
                                                   : in.ConsumeIntegral<int32_t>();
            const bool with_data = in.ConsumeBool();
            std::vector<uint8_t> bytes(static_cast<size_t>(std::clamp(count, 0, 800)));
            const std::vector<uint8_t> given = in.ConsumeBytes<uint8_t>(bytes.size());
            std::copy(given.begin(), given.end(), bytes.begin());
            const int32_t value =
                static_cast<int32_t>(in.ConsumeIntegral<uint32_t>() & 0x00FFFFFFu);
            Receive(h, in.ConsumeBool() ? 0 : value, count,
                    with_data && !bytes.empty() ? bytes.data() : nullptr);
            break;
        }
        case 1:
            Receive(h, static_cast<int32_t>(in.ConsumeIntegral<uint32_t>() | 0x01000000u),
                    in.ConsumeIntegral<int32_t>(), nullptr);
            break;
        case 2: {
            const int32_t index = in.ConsumeBool() ? in.ConsumeIntegralInRange<int32_t>(0, 20)
                                                   : in.ConsumeIntegral<int32_t>();
            const uint32_t bits = in.ConsumeIntegral<uint32_t>();
            if (index >= 0 && index < PLUG_COUNT) {
                h.values[index] = bits;
            }
            probe::Begin();
            h.view->dispatcher(h.view, GUI_OP_PIN_CHANGED, index, 0, nullptr, 0.0f);
            fuzz::CheckQuiet(probe::End(), 0, "GUI_OP_PIN_CHANGED");
            break;
        }
        case 3:
            Paint(h, in);
            break;
        case 4: {
            const int32_t ops[] = {GUI_OP_3,  GUI_OP_4,  GUI_OP_5,  GUI_OP_8, GUI_OP_9,
                                   GUI_OP_10, GUI_OP_11, GUI_OP_12, 13,       -1};
            uint8_t scratch[16] = {};
            const int32_t op = ops[in.ConsumeIntegralInRange<size_t>(0, 9)];
            FUZZ_CHECK(h.view->dispatcher(h.view, op, in.ConsumeIntegral<int32_t>(),
                                          in.ConsumeIntegral<int32_t>(),
                                          in.ConsumeBool() ? scratch : nullptr,
                                          in.ConsumeFloatingPoint<float>()) == 0,
                       "an opcode outside the view's table answered");
            break;
        }
        case 5:
            h.view->dispatcher(h.view, GUI_OP_INITIALISE, in.ConsumeIntegral<int32_t>(), 0, nullptr,
                               0.0f);
            break;
        case 6:
            Close(h);
            Create(h, in);
            break;
        }
    }
    Close(h);
    cairo_surface_destroy(h.canvas);
    g_host = nullptr;
    return 0;
}
