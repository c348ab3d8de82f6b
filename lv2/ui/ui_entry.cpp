// The plug-in's view as an LV2 X11 UI: the host gives a parent window, and the view's window
// lives inside it. Messages from the plug-in arrive as atoms on the notify port, plug values as
// control-port events; the view answers through the host's write function. Painting happens on
// the host's idle calls, when the GUI half has asked for it or the window needs it. The binary
// holds one view for each of the bundle's plug-ins, mono and stereo.
#include "ModuleLibrary.h"
#include "PortEvents.h"
#include "Protocol.h"
#include "ViewHost.h"
#include "X11Window.h"

#include <lv2/log/log.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr int32_t kInitialWidth = 480;
constexpr int32_t kInitialHeight = 120;
// Enough to read a trace; hosts may still give less, and the view then fills what it gets.
constexpr int32_t kMinWidth = 120;
constexpr int32_t kMinHeight = 40;

class View final : public lv2ui::HostLink {
public:
    View(const lv2proto::PluginKind& kind, const char* bundle_path, LV2UI_Write_Function write,
         LV2UI_Controller controller, unsigned long parent, const lv2ui::MessageUrids& urids)
        : m_write(write), m_controller(controller), m_urids(urids) {
        m_library = sehost::ModuleLibrary::Load(lv2proto::ModulePath(bundle_path));
        m_host = std::make_unique<lv2ui::ViewHost>(*m_library, *this, kInitialWidth, kInitialHeight,
                                                   kind.stereo);
        m_window = std::make_unique<lv2ui::X11Window>(
            parent, lv2ui::X11Window::Sizes{kInitialWidth, kInitialHeight, kMinWidth, kMinHeight,
                                            lv2ui::ViewHost::kMaxSide});
    }

    unsigned long Window() const { return m_window->Id(); }

    void WriteControl(uint32_t port, float value) override {
        m_write(m_controller, port, sizeof value, 0, &value);
    }

    void SendFrameRead(int32_t value) override {
        const lv2ui::FrameReadAtom message = lv2ui::MakeFrameRead(m_urids, value);
        m_write(m_controller, lv2proto::kPortControl, sizeof message, m_urids.event_transfer,
                &message);
    }

    void PortEvent(uint32_t port, uint32_t size, uint32_t format, const void* buffer) {
        lv2ui::DeliverPortEvent(*m_host, m_urids, port, size, format, buffer);
    }

    int Idle() {
        // The host has delivered the session's values by the first idle call.
        m_host->Open();
        const lv2ui::X11Window::Events events = m_window->Poll();
        if (events.resized) {
            m_host->Resize(events.width, events.height);
        }
        if (events.exposed || m_host->NeedsPaint()) {
            m_window->Show(m_host->Paint());
        }
        return 0;
    }

private:
    LV2UI_Write_Function m_write;
    LV2UI_Controller m_controller;
    lv2ui::MessageUrids m_urids;
    // Declared in the order they are made, so they go in reverse: the window, then the view,
    // then the module library it came from.
    std::unique_ptr<sehost::ModuleLibrary> m_library;
    std::unique_ptr<lv2ui::ViewHost> m_host;
    std::unique_ptr<lv2ui::X11Window> m_window;
};

template <uint32_t kKind>
LV2UI_Handle Instantiate(const LV2UI_Descriptor*, const char* plugin_uri, const char* bundle_path,
                         LV2UI_Write_Function write_function, LV2UI_Controller controller,
                         LV2UI_Widget* widget, const LV2_Feature* const* features) {
    const lv2proto::PluginKind& kind = lv2proto::kPluginKinds[kKind];
    const LV2_URID_Map* map = nullptr;
    const LV2_Log_Log* log = nullptr;
    const LV2UI_Resize* resize = nullptr;
    void* parent = nullptr;
    for (int i = 0; features != nullptr && features[i] != nullptr; ++i) {
        const char* uri = features[i]->URI;
        if (std::strcmp(uri, LV2_URID__map) == 0) {
            map = static_cast<const LV2_URID_Map*>(features[i]->data);
        } else if (std::strcmp(uri, LV2_LOG__log) == 0) {
            log = static_cast<const LV2_Log_Log*>(features[i]->data);
        } else if (std::strcmp(uri, LV2_UI__parent) == 0) {
            parent = features[i]->data;
        } else if (std::strcmp(uri, LV2_UI__resize) == 0) {
            resize = static_cast<const LV2UI_Resize*>(features[i]->data);
        }
    }
    if (plugin_uri == nullptr || std::strcmp(plugin_uri, kind.uri) != 0) {
        lv2proto::LogError(log, map, "strip viewer UI: this view belongs to <%s>, not <%s>\n",
                           kind.uri, plugin_uri != nullptr ? plugin_uri : "");
        return nullptr;
    }
    if (parent == nullptr) {
        lv2proto::LogError(log, map,
                           "strip viewer UI: the host gave no parent window (feature %s); the view "
                           "lives inside one and cannot open\n",
                           LV2_UI__parent);
        return nullptr;
    }
    if (map == nullptr) {
        lv2proto::LogError(log, map, "strip viewer UI: the host does not map URIs (feature %s)\n",
                           LV2_URID__map);
        return nullptr;
    }
    if (write_function == nullptr || widget == nullptr || bundle_path == nullptr) {
        lv2proto::LogError(
            log, map, "strip viewer UI: the host gave no write function, widget or bundle path\n");
        return nullptr;
    }
    const lv2ui::MessageUrids urids = lv2ui::MapMessageUrids(*map);
    try {
        auto view = std::make_unique<View>(kind, bundle_path, write_function, controller,
                                           reinterpret_cast<uintptr_t>(parent), urids);
        *widget = reinterpret_cast<LV2UI_Widget>(static_cast<uintptr_t>(view->Window()));
        if (resize != nullptr) {
            resize->ui_resize(resize->handle, kInitialWidth, kInitialHeight);
        }
        return view.release();
    } catch (const std::exception& error) {
        lv2proto::LogError(log, map, "strip viewer UI: %s\n", error.what());
        return nullptr;
    }
}

void Cleanup(LV2UI_Handle handle) {
    delete static_cast<View*>(handle);
}

void PortEvent(LV2UI_Handle handle, uint32_t port, uint32_t size, uint32_t format,
               const void* buffer) {
    static_cast<View*>(handle)->PortEvent(port, size, format, buffer);
}

int Idle(LV2UI_Handle handle) {
    return static_cast<View*>(handle)->Idle();
}

const void* ExtensionData(const char* uri) {
    static const LV2UI_Idle_Interface idle{&Idle};
    if (std::strcmp(uri, LV2_UI__idleInterface) == 0) {
        return &idle;
    }
    return nullptr;
}

template <uint32_t kKind> constexpr LV2UI_Descriptor Descriptor() {
    return {lv2proto::kPluginKinds[kKind].ui_uri, &Instantiate<kKind>, &Cleanup, &PortEvent,
            &ExtensionData};
}

const LV2UI_Descriptor kDescriptors[] = {Descriptor<0>(), Descriptor<1>()};
static_assert(sizeof kDescriptors / sizeof kDescriptors[0] == lv2proto::kPluginKindCount);

} // namespace

extern "C" __attribute__((visibility("default"))) const LV2UI_Descriptor*
lv2ui_descriptor(uint32_t index) {
    return index < lv2proto::kPluginKindCount ? &kDescriptors[index] : nullptr;
}
