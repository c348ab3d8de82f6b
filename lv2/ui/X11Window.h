// The view's own window: a child of the window the LV2 host gives, on a display connection of
// its own, showing the pictures the view paints and reporting exposures and size changes.
#pragma once

#include <cairo.h>

#include <cstdint>

typedef struct _XDisplay Display;

namespace lv2ui {

class X11Window {
public:
    // The window's name, by which tools and tests find it among the host's windows.
    static constexpr const char* kWindowName = "strip viewer";

    // Opens the display named by DISPLAY and makes a width x height child of parent, shown.
    // Throws HostError when the display cannot be opened or the parent does not exist.
    X11Window(unsigned long parent, int32_t width, int32_t height);
    ~X11Window();
    X11Window(const X11Window&) = delete;
    X11Window& operator=(const X11Window&) = delete;

    unsigned long Id() const { return m_window; }

    struct Events {
        bool exposed = false;
        bool resized = false;
        int32_t width = 0;
        int32_t height = 0;
    };
    // Handles what the server sent since the last call. The window follows its parent's size.
    Events Poll();

    // Copies the picture to the window, top left, and sends it to the server.
    void Show(cairo_surface_t* picture);

private:
    Display* m_display = nullptr;
    unsigned long m_parent = 0;
    unsigned long m_window = 0;
    cairo_surface_t* m_surface = nullptr; // the window as a Cairo target
    int32_t m_width;
    int32_t m_height;
};

} // namespace lv2ui
