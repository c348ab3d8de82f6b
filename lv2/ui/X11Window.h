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

    // The size the window asks its host for, and the sizes it can take.
    struct Sizes {
        int32_t width = 0;
        int32_t height = 0;
        int32_t min_width = 1;
        int32_t min_height = 1;
        int32_t max_side = 1;
    };

    // Opens the display named by DISPLAY and makes a child of parent at the wanted size, shown,
    // with size hints that tell an embedding host the wanted, smallest and largest sizes.
    // Throws HostError when the display cannot be opened or the parent does not exist.
    X11Window(unsigned long parent, const Sizes& sizes);
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
    // Handles what the server sent since the last call. The window fills its parent (up to the
    // largest size): the first call takes the parent's size as it is then, later calls follow
    // its size changes, and a size taken is reported at once, not when the server confirms it.
    // A host that sizes the window itself is followed too.
    Events Poll();

    // Copies the picture to the window, top left, and sends it to the server.
    void Show(cairo_surface_t* picture);

private:
    // Takes the parent's present size, if it differs from the window's; true when it did.
    bool FollowParent();

    Display* m_display = nullptr;
    unsigned long m_parent = 0;
    unsigned long m_window = 0;
    cairo_surface_t* m_surface = nullptr; // the window as a Cairo target
    int32_t m_width;
    int32_t m_height;
    int32_t m_max_side;
    int32_t m_parent_width = 0; // as last read
    int32_t m_parent_height = 0;
    bool m_parent_changed = true; // the parent's size is still to be read
};

} // namespace lv2ui
