// The built view binary as an LV2 host loads it: refusals of hosts it cannot live in, and, on a
// virtual X server that the test starts itself, the window it makes inside the host's, what it
// paints there and what it writes back.
#include "DisplayMessage.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dlfcn.h>
#include <lv2/atom/atom.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr const char* kPlugin = "urn:strip-viewer:display";

// Xvfb on a display number it picks itself; stopped by the destructor.
class VirtualDisplay {
public:
    VirtualDisplay() {
        int fds[2];
        if (pipe(fds) != 0) {
            return;
        }
        m_pid = fork();
        if (m_pid == 0) {
            close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "640x480x24",
                   "-nolisten", "tcp", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        // The number comes in pieces and ends with a newline; closing the pipe before that
        // would end the server.
        std::string text;
        pollfd ready{fds[0], POLLIN, 0};
        while (m_pid > 0 && text.find('\n') == std::string::npos && poll(&ready, 1, 10000) == 1) {
            char piece[16];
            const ssize_t n = read(fds[0], piece, sizeof piece);
            if (n <= 0) {
                break;
            }
            text.append(piece, static_cast<size_t>(n));
        }
        if (text.find('\n') != std::string::npos) {
            m_name = ":" + std::to_string(std::atoi(text.c_str()));
        }
        close(fds[0]);
    }
    ~VirtualDisplay() {
        if (m_pid <= 0) {
            return;
        }
        kill(m_pid, SIGTERM);
        for (int i = 0; i < 50; ++i) {
            if (waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    const std::string& Name() const { return m_name; } // empty when it did not start

private:
    pid_t m_pid = -1;
    std::string m_name;
};

struct Write {
    uint32_t port;
    uint32_t format;
    std::vector<uint8_t> bytes;
};

class ViewBinary : public ::testing::Test {
protected:
    void SetUp() override {
        m_binary = dlopen(UI_BINARY_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(m_binary, nullptr) << dlerror();
        const auto entry = reinterpret_cast<const LV2UI_Descriptor* (*)(uint32_t)>(
            dlsym(m_binary, "lv2ui_descriptor"));
        ASSERT_NE(entry, nullptr);
        descriptor = entry(0);
        ASSERT_NE(descriptor, nullptr);
        EXPECT_EQ(entry(1), nullptr);
        map.handle = &m_uris;
        map.map = [](LV2_URID_Map_Handle handle, const char* uri) -> LV2_URID {
            auto& uris = *static_cast<std::map<std::string, LV2_URID>*>(handle);
            return uris.emplace(uri, static_cast<LV2_URID>(uris.size() + 1)).first->second;
        };
    }
    void TearDown() override {
        if (m_binary != nullptr) {
            dlclose(m_binary);
        }
    }

    static void Record(LV2UI_Controller controller, uint32_t port, uint32_t size, uint32_t format,
                       const void* buffer) {
        const auto* bytes = static_cast<const uint8_t*>(buffer);
        static_cast<std::vector<Write>*>(controller)
            ->push_back({port, format, {bytes, bytes + size}});
    }

    LV2UI_Handle Open(std::vector<Write>& writes, void* parent, std::string* said = nullptr) {
        const LV2_Feature map_feature{LV2_URID__map, &map};
        const LV2_Feature parent_feature{LV2_UI__parent, parent};
        const LV2_Feature* features[] = {&map_feature, &parent_feature, nullptr};
        LV2UI_Widget widget = nullptr;
        testing::internal::CaptureStderr();
        LV2UI_Handle handle = descriptor->instantiate(descriptor, kPlugin, BUNDLE_DIR, &Record,
                                                      &writes, &widget, features);
        const std::string text = testing::internal::GetCapturedStderr();
        if (said != nullptr) {
            *said = text;
        }
        widgets[handle] = reinterpret_cast<uintptr_t>(widget);
        return handle;
    }

    // FrameRead atoms written to the control port.
    int FrameReads(const std::vector<Write>& writes) {
        int n = 0;
        for (const Write& w : writes) {
            LV2_Atom atom{};
            if (w.port == 2 && w.format == map.map(map.handle, LV2_ATOM__eventTransfer) &&
                w.bytes.size() == sizeof atom + 4) {
                std::memcpy(&atom, w.bytes.data(), sizeof atom);
                n += atom.type == map.map(map.handle, "urn:strip-viewer:display#FrameRead");
            }
        }
        return n;
    }

    void SendFrame(LV2UI_Handle handle) {
        std::vector<uint8_t> event(sizeof(LV2_Atom) + display_message::kFrameBytes);
        const LV2_Atom header{display_message::kFrameBytes,
                              map.map(map.handle, "urn:strip-viewer:display#Frame")};
        std::memcpy(event.data(), &header, sizeof header);
        for (int i = 0; i < display_message::kFrameBytes; ++i) {
            event[sizeof header + i] =
                display_message::EncodeFrameSample(static_cast<float>(0.8 * std::sin(i * 0.03)));
        }
        descriptor->port_event(handle, 3, static_cast<uint32_t>(event.size()),
                               map.map(map.handle, LV2_ATOM__eventTransfer), event.data());
    }

    const LV2UI_Descriptor* descriptor = nullptr;
    LV2_URID_Map map{};
    std::map<LV2UI_Handle, uintptr_t> widgets;

private:
    void* m_binary = nullptr;
    std::map<std::string, LV2_URID> m_uris;
};

// Rows of a window that hold any pixel but black.
int DrawnRows(Display* display, Window window) {
    XWindowAttributes a{};
    XGetWindowAttributes(display, window, &a);
    XImage* image = XGetImage(display, window, 0, 0, a.width, a.height, AllPlanes, ZPixmap);
    if (image == nullptr) {
        return -1;
    }
    int rows = 0;
    for (int y = 0; y < a.height; ++y) {
        bool drawn = false;
        for (int x = 0; x < a.width && !drawn; ++x) {
            drawn = (XGetPixel(image, x, y) & 0xFFFFFF) != 0;
        }
        rows += drawn;
    }
    XDestroyImage(image);
    return rows;
}

int WidthOf(Display* display, Window window) {
    XWindowAttributes a{};
    XGetWindowAttributes(display, window, &a);
    return a.width;
}

TEST_F(ViewBinary, RefusesAHostWithoutParentWindowOrUridMap) {
    std::vector<Write> writes;
    std::string said;
    EXPECT_EQ(Open(writes, nullptr, &said), nullptr);
    EXPECT_NE(said.find("no parent window"), std::string::npos) << said;

    const LV2_Feature parent_feature{LV2_UI__parent, reinterpret_cast<void*>(0x1234)};
    const LV2_Feature* no_map[] = {&parent_feature, nullptr};
    LV2UI_Widget widget = nullptr;
    testing::internal::CaptureStderr();
    EXPECT_EQ(
        descriptor->instantiate(descriptor, kPlugin, BUNDLE_DIR, &Record, &writes, &widget, no_map),
        nullptr);
    said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("map"), std::string::npos) << said;
    EXPECT_TRUE(writes.empty());
}

TEST_F(ViewBinary, LivesInItsParentPaintsWhatArrivesAndFollowsItsSize) {
    VirtualDisplay server;
    if (server.Name().empty()) {
        GTEST_SKIP() << "Xvfb did not start (scripts/setup installs it)";
    }
    setenv("DISPLAY", server.Name().c_str(), 1);
    Display* display = XOpenDisplay(server.Name().c_str());
    ASSERT_NE(display, nullptr);
    const Window root = DefaultRootWindow(display);
    const Window parent_a = XCreateSimpleWindow(display, root, 0, 0, 300, 80, 0, 0, 0);
    const Window parent_b = XCreateSimpleWindow(display, root, 0, 100, 300, 80, 0, 0, 0);
    XMapWindow(display, parent_a);
    XMapWindow(display, parent_b);
    XSync(display, False);

    std::vector<Write> writes_a;
    std::vector<Write> writes_b;
    std::string said;
    EXPECT_EQ(Open(writes_a, reinterpret_cast<void*>(uintptr_t{0x3FFFFF}), &said), nullptr);
    EXPECT_NE(said.find("does not exist"), std::string::npos) << said;

    LV2UI_Handle a = Open(writes_a, reinterpret_cast<void*>(parent_a), &said);
    ASSERT_NE(a, nullptr) << said;
    LV2UI_Handle b = Open(writes_b, reinterpret_cast<void*>(parent_b), &said);
    ASSERT_NE(b, nullptr) << said;
    const auto* idle =
        static_cast<const LV2UI_Idle_Interface*>(descriptor->extension_data(LV2_UI__idleInterface));
    ASSERT_NE(idle, nullptr);
    const auto idle_both = [&] {
        for (int i = 0; i < 5; ++i) {
            idle->idle(a);
            idle->idle(b);
            XSync(display, False);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    };

    const float on = 1.0f;
    descriptor->port_event(a, 5, sizeof on, 0, &on);
    descriptor->port_event(b, 5, sizeof on, 0, &on);
    idle_both();
    EXPECT_EQ(FrameReads(writes_a), 1) << "one at the open";
    EXPECT_GT(writes_a.size(), 1u) << "the first-use look goes to the host";

    SendFrame(a); // to one of the two views only
    idle_both();
    EXPECT_EQ(FrameReads(writes_a), 2);
    EXPECT_EQ(FrameReads(writes_b), 1);
    const Window view_a = static_cast<Window>(widgets[a]);
    const Window view_b = static_cast<Window>(widgets[b]);
    EXPECT_GT(DrawnRows(display, view_a), 10);
    EXPECT_EQ(DrawnRows(display, view_b), 1) << "the other view shows its empty trace";

    XResizeWindow(display, parent_a, 420, 90);
    for (int i = 0; i < 50 && WidthOf(display, view_a) != 420; ++i) {
        idle_both();
    }
    idle_both();
    EXPECT_EQ(WidthOf(display, view_a), 420);
    EXPECT_GT(DrawnRows(display, view_a), 10);

    descriptor->cleanup(a);
    descriptor->cleanup(b);
    XCloseDisplay(display);
}

} // namespace
