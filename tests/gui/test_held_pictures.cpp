// A frozen picture must follow the settings changed while it is frozen: whatever the order of
// style, magnify and Active changes (and paints) under HOLD, the next paint matches, pixel for
// pixel, what a fresh view paints from the same trace and the settings in force.
#include "GuiTestSupport.h"
#include "LentSurface.h"

#include <string>
#include <vector>

namespace {

constexpr int32_t kWidth = 60;
constexpr int32_t kHeight = 40;
const float kMagnifies[] = {0.5f, 2.0f, 1.5f, 3.0f};

class HeldPictures : public ViewTest {
protected:
    // A fresh view, ON, on the host's plugs as they stand; an opaque background, so that every
    // paint covers the whole surface.
    void Open() {
        if (plug != nullptr) {
            FakeHost::Dispatch(plug, GUI_OP_CLOSE);
        }
        host.ints[PLUG_ACTIVE] = ACTIVE_ON;
        host.ints[PLUG_BACKGROUND_ALPHA] = 255;
        for (int32_t index = PLUG_WAVEFORM_RED; index <= PLUG_SHADING_ALPHA; ++index) {
            host.ints[index] = 255 - 20 * (index - PLUG_WAVEFORM_RED);
        }
        host.ints[PLUG_SHADING_X_PERCENT] = 100;
        Make();
    }
    // A wave that swings past full scale, so that each magnification draws differently.
    void Trace() {
        std::vector<uint8_t> bytes(800);
        for (size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<uint8_t>(28 + (i * 7) % 200);
        }
        Frame(bytes.data(), 800);
    }
    std::vector<uint32_t> Paint() {
        int32_t size[2] = {kWidth, kHeight};
        FakeHost::Dispatch(plug, GUI_OP_PAINT, surface.Handle(), 0, size);
        std::vector<uint32_t> pixels;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                pixels.push_back(surface.At(x, y));
            }
        }
        return pixels;
    }
    LentSurface surface{kWidth, kHeight};
};

// Steps: S the next style, M the next magnification, O Active OFF, H Active HOLD, P a paint.
void EveryScript(size_t length, std::string& script, std::vector<std::string>& scripts) {
    scripts.push_back(script);
    for (char step : std::string(script.size() < length ? "SMOHP" : "")) {
        script.push_back(step);
        EveryScript(length, script, scripts);
        script.pop_back();
    }
}

TEST_F(HeldPictures, AnyOrderOfChangesPaintsWhatAFreshViewPaints) {
    std::string empty;
    std::vector<std::string> scripts;
    EveryScript(4, empty, scripts);
    std::string wrong; // the scripts that paint differently
    for (const std::string& script : scripts) {
        host.ints[PLUG_FX_MODE] = 0;
        host.magnify = 1.0f;
        Open();
        Trace();
        Paint();
        SetPlug(PLUG_ACTIVE, ACTIVE_HOLD);
        bool cleared = false;
        size_t next_magnify = 0;
        for (char step : script) {
            if (step == 'S') {
                SetPlug(PLUG_FX_MODE, (host.ints[PLUG_FX_MODE] + 1) % 4);
            } else if (step == 'M') {
                SetMagnify(kMagnifies[next_magnify++ % 4]);
            } else if (step == 'O' || step == 'H') {
                SetPlug(PLUG_ACTIVE, step == 'O' ? ACTIVE_OFF : ACTIVE_HOLD);
                cleared = cleared || step == 'O';
            } else {
                Paint();
            }
        }
        const std::vector<uint32_t> held = Paint();
        const int32_t active = host.ints[PLUG_ACTIVE];
        Open();
        if (!cleared) {
            Trace();
        }
        SetPlug(PLUG_ACTIVE, active);
        if (held != Paint()) {
            wrong += " " + script;
        }
    }
    EXPECT_EQ(wrong, "");
}

} // namespace
