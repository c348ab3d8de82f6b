#include "GuiModule.h"

#include "DisplayMessage.h"
#include "plugs.h"

#include <cmath>
#include <cstdint>
#include <limits>

GuiModule::GuiModule(HostCallback callback, intptr_t host_argument)
    : SEGUI_base(callback, host_argument) {
    // m_gdiplus_input's own constructor makes it version 1, no callback, both flags false; the
    // colours start opaque black and every point at (0, 0).
    CallHost(GUI_RQ_3, 200, 100, nullptr, 0.0f);
    CallHost(GUI_RQ_4, 1, 0, nullptr, 0.0f);
    Gdiplus::GdiplusStartup(&m_gdiplus_token, &m_gdiplus_input, nullptr);
    ClearTraces();
    m_ring_pos = 0;
}

GuiModule::~GuiModule() {
    CallHost(GUI_RQ_22, 0, 0, nullptr, 0.0f);
    Gdiplus::GdiplusShutdown(m_gdiplus_token);
}

uint32_t GuiModule::PackArgb(int32_t alpha, int32_t red, int32_t green, int32_t blue) {
    return (static_cast<uint32_t>(alpha) & 0xFFu) << 24 |
           (static_cast<uint32_t>(red) & 0xFFu) << 16 |
           (static_cast<uint32_t>(green) & 0xFFu) << 8 | (static_cast<uint32_t>(blue) & 0xFFu);
}

void GuiModule::Colour::Set(int32_t k, int32_t value) {
    int32_t* const components[] = {&red, &green, &blue, &alpha};
    *components[k] = value;
    Pack();
}

void GuiModule::UpdateBackground() {
    // A component of exactly -1 switches the background off.
    const Colour& c = m_background;
    if (c.red == -1 || c.green == -1 || c.blue == -1) {
        m_background_rgb = -1;
        m_background.argb = 0;
        return;
    }
    m_background_rgb = static_cast<int32_t>((static_cast<uint32_t>(c.red) & 0xFFu) |
                                            (static_cast<uint32_t>(c.green) & 0xFFu) << 8 |
                                            (static_cast<uint32_t>(c.blue) & 0xFFu) << 16);
    m_background.Pack();
}

void GuiModule::ClearTraces() {
    for (int32_t i = 0; i < kTraceLength; ++i) {
        m_trace_upper[i] = 0.0f;
        m_trace_lower[i] = 0.0f;
    }
}

void GuiModule::Initialise(bool loaded) {
    SEGUI_base::Initialise(loaded);
    m_last_height = -1;
    m_last_width = -1;

    m_magnify = GetPin(PLUG_MAGNIFY)->GetFloat();
    // A fresh instance reads magnify 0 (the plug has no default of its own): give it the
    // first-use look. NaN takes this branch too, so it never reaches the paint.
    if (m_magnify == 0.0f || std::isnan(m_magnify)) {
        m_magnify = 1.0f;
        GetPin(PLUG_MAGNIFY)->SetFloat(1.0f);
        GetPin(PLUG_WAVEFORM_RED)->SetInt(192);
        GetPin(PLUG_WAVEFORM_GREEN)->SetInt(192);
        GetPin(PLUG_WAVEFORM_BLUE)->SetInt(192);
        GetPin(PLUG_WAVEFORM_ALPHA)->SetInt(255);
        GetPin(PLUG_BACKGROUND_ALPHA)->SetInt(255);
        GetPin(PLUG_SHADING_RED)->SetInt(255);
        GetPin(PLUG_SHADING_GREEN)->SetInt(255);
        GetPin(PLUG_SHADING_BLUE)->SetInt(255);
        GetPin(PLUG_SHADING_ALPHA)->SetInt(255);
        m_shading_x_percent = 100;
        GetPin(PLUG_SHADING_X_PERCENT)->SetInt(100);
        m_shading_y_percent = 100;
        GetPin(PLUG_SHADING_Y_PERCENT)->SetInt(100);
    }

    // Read in the order the host has always seen the requests.
    m_background.red = GetPin(PLUG_BACKGROUND_RED)->GetInt();
    m_background.green = GetPin(PLUG_BACKGROUND_GREEN)->GetInt();
    m_background.blue = GetPin(PLUG_BACKGROUND_BLUE)->GetInt();
    m_waveform.red = GetPin(PLUG_WAVEFORM_RED)->GetInt();
    m_waveform.green = GetPin(PLUG_WAVEFORM_GREEN)->GetInt();
    m_waveform.blue = GetPin(PLUG_WAVEFORM_BLUE)->GetInt();
    m_active = GetPin(PLUG_ACTIVE)->GetInt();
    m_fx_mode = GetPin(PLUG_FX_MODE)->GetInt();
    m_background.alpha = GetPin(PLUG_BACKGROUND_ALPHA)->GetInt();
    m_waveform.alpha = GetPin(PLUG_WAVEFORM_ALPHA)->GetInt();
    UpdateBackground();
    m_waveform.Pack();

    m_shading.red = GetPin(PLUG_SHADING_RED)->GetInt();
    m_shading.green = GetPin(PLUG_SHADING_GREEN)->GetInt();
    m_shading.blue = GetPin(PLUG_SHADING_BLUE)->GetInt();
    m_shading.alpha = GetPin(PLUG_SHADING_ALPHA)->GetInt();
    m_shading.Pack();

    m_shading_x_percent = GetPin(PLUG_SHADING_X_PERCENT)->GetInt();
    m_shading_y_percent = GetPin(PLUG_SHADING_Y_PERCENT)->GetInt();
}

bool GuiModule::QueryOp10() {
    return false;
}

// The colours' plugs: red, green, blue and alpha of the background, of the waveform and of the
// shading, one after another.
static_assert(PLUG_WAVEFORM_RED == PLUG_BACKGROUND_RED + 4 &&
                  PLUG_SHADING_RED == PLUG_WAVEFORM_RED + 4 &&
                  PLUG_SHADING_ALPHA == PLUG_SHADING_RED + 3,
              "each colour's four plugs follow the one before");

void GuiModule::PinChanged(GuiPinRef* pin) {
    if (pin->index >= PLUG_BACKGROUND_RED && pin->index <= PLUG_SHADING_ALPHA) {
        const int32_t k = pin->index - PLUG_BACKGROUND_RED;
        Colour* const colours[] = {&m_background, &m_waveform, &m_shading};
        colours[k / 4]->Set(k % 4, pin->GetInt());
        if (colours[k / 4] == &m_background) {
            UpdateBackground();
        }
        return;
    }
    switch (pin->index) {
    case PLUG_ACTIVE:
        m_active = pin->GetInt();
        if (m_active == ACTIVE_OFF) {
            ClearTraces();
            RequestRedraw(true);
        }
        break;
    case PLUG_MAGNIFY:
        m_magnify = pin->GetFloat();
        if (m_active == ACTIVE_HOLD) {
            RequestRedraw(true);
        }
        break;
    case PLUG_SHADING_X_PERCENT:
        m_shading_x_percent = pin->GetInt();
        break;
    case PLUG_SHADING_Y_PERCENT:
        m_shading_y_percent = pin->GetInt();
        break;
    case PLUG_FX_MODE:
        m_fx_mode = pin->GetInt();
        // The points serve every style, so a frozen picture only needs repainting.
        if (m_active == ACTIVE_HOLD) {
            RequestRedraw(false);
        }
        break;
    default: // the audio side's plugs, and indices the module does not have
        break;
    }
}

void GuiModule::RequestRedraw(bool mark_points) {
    // The mark does not wait for the request: a repaint already asked for without it (a style
    // change under HOLD) must still draw the points this change makes.
    if (mark_points) {
        m_rebuild_points = true;
    }
    const int32_t before = m_request_count;
    // Saturates: a host may go a very long time without painting.
    if (before < std::numeric_limits<int32_t>::max()) {
        m_request_count = before + 1;
    }
    if (before == 0) {
        CallHost(GUI_RQ_INVALIDATE, 0, 0, nullptr, 0.0f);
    }
}

void GuiModule::Receive(int32_t value, int32_t index, void* ptr) {
    if (display_message::IsPeakMessage(value)) {
        ReceivePeak(value);
        return;
    }
    ReceiveFrame(index, static_cast<const uint8_t*>(ptr));
    // Answered in every state and only after the bytes are read: the audio side waits for this
    // before it captures into its frame buffer again.
    SendToAudio(display_message::kFrameReadReply, 0, nullptr);
}

void GuiModule::ReceivePeak(int32_t value) {
    if (m_active != ACTIVE_ON) {
        return;
    }
    m_scrolling = true;
    m_trace_lower[m_ring_pos] = display_message::PeakLower(value);
    m_trace_upper[m_ring_pos] = display_message::PeakUpper(value);
    m_ring_pos = m_ring_pos + 1 == kTraceLength ? 0 : m_ring_pos + 1;
    RequestRedraw(true);
}

void GuiModule::ReceiveFrame(int32_t count, const uint8_t* bytes) {
    if (m_active != ACTIVE_ON) {
        return;
    }
    m_scrolling = false;
    m_ring_pos = 0;
    // The traces hold 800 entries; a longer frame is cut, and one without data stores nothing.
    int32_t stored = bytes == nullptr || count < 0 ? 0 : count;
    if (stored > kTraceLength) {
        stored = kTraceLength;
    }
    for (int32_t i = 0; i < stored; ++i) {
        const float x = display_message::DecodeFrameByte(bytes[i]);
        if (x < 0.0f) {
            m_trace_lower[i] = x;
            m_trace_upper[i] = 0.0f;
        } else {
            m_trace_upper[i] = x;
            m_trace_lower[i] = 0.0f;
        }
    }
    m_ring_pos = stored == kTraceLength ? 0 : stored;
    RequestRedraw(true);
}
