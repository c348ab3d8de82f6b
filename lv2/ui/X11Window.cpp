#include "X11Window.h"

#include "HostError.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cairo-xlib.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace lv2ui {

namespace {

// Xlib's own handler ends the process on any error; while a request that may fail is checked,
// this one only notes it. The handler is the process's, so it is put back straight after.
bool g_x_error = false;
int NoteError(Display*, XErrorEvent*) {
    g_x_error = true;
    return 0;
}

} // namespace

X11Window::X11Window(unsigned long parent, const Sizes& sizes)
    : m_parent(parent), m_width(sizes.width), m_height(sizes.height), m_max_side(sizes.max_side) {
    m_display = XOpenDisplay(nullptr);
    if (m_display == nullptr) {
        throw sehost::HostError("cannot open the X display \"" +
                                std::string(XDisplayName(nullptr)) + "\"");
    }
    XSync(m_display, False);
    g_x_error = false;
    const auto previous = XSetErrorHandler(&NoteError);
    XWindowAttributes parent_attributes{};
    const Status found = XGetWindowAttributes(m_display, parent, &parent_attributes);
    if (found != 0) {
        m_window = XCreateSimpleWindow(m_display, parent, 0, 0, m_width, m_height, 0,
                                       BlackPixel(m_display, DefaultScreen(m_display)),
                                       BlackPixel(m_display, DefaultScreen(m_display)));
        // Size changes of the parent are how an embedding host resizes the view.
        XSelectInput(m_display, parent, StructureNotifyMask);
    }
    XSync(m_display, False);
    XSetErrorHandler(previous);
    if (found == 0 || g_x_error) {
        XCloseDisplay(m_display);
        char id[32];
        std::snprintf(id, sizeof id, "0x%lx", parent);
        throw sehost::HostError(std::string("the parent window ") + id + " does not exist");
    }
    XStoreName(m_display, m_window, kWindowName);
    // Embedding hosts size their area from these: the base size is the one to open at.
    XSizeHints hints{};
    hints.flags = PSize | PBaseSize | PMinSize | PMaxSize;
    hints.width = hints.base_width = m_width;
    hints.height = hints.base_height = m_height;
    hints.min_width = sizes.min_width;
    hints.min_height = sizes.min_height;
    hints.max_width = hints.max_height = m_max_side;
    XSetWMNormalHints(m_display, m_window, &hints);
    XSelectInput(m_display, m_window, ExposureMask | StructureNotifyMask);
    XMapWindow(m_display, m_window);
    const int screen = DefaultScreen(m_display);
    m_surface = cairo_xlib_surface_create(m_display, m_window, DefaultVisual(m_display, screen),
                                          m_width, m_height);
    XFlush(m_display);
}

X11Window::~X11Window() {
    cairo_surface_destroy(m_surface);
    XDestroyWindow(m_display, m_window);
    XCloseDisplay(m_display);
}

X11Window::Events X11Window::Poll() {
    Events events;
    while (XPending(m_display) > 0) {
        XEvent event;
        XNextEvent(m_display, &event);
        if (event.type == Expose && event.xexpose.window == m_window) {
            events.exposed = true;
        } else if (event.type == ConfigureNotify && event.xconfigure.window == m_window) {
            if (event.xconfigure.width != m_width || event.xconfigure.height != m_height) {
                m_width = event.xconfigure.width;
                m_height = event.xconfigure.height;
                events.resized = true;
            }
        } else if (event.type == ConfigureNotify && event.xconfigure.window == m_parent) {
            // Several may be queued, and ours may not yet show the last resize asked for:
            // the parent's size is read once they are all handled. A move changes nothing.
            m_parent_changed = m_parent_changed || event.xconfigure.width != m_parent_width ||
                               event.xconfigure.height != m_parent_height;
        }
    }
    if (m_parent_changed && FollowParent()) {
        events.resized = true;
    }
    if (events.resized) {
        cairo_xlib_surface_set_size(m_surface, m_width, m_height);
        events.exposed = true;
    }
    events.width = m_width;
    events.height = m_height;
    return events;
}

bool X11Window::FollowParent() {
    m_parent_changed = false;
    // The host may have destroyed the parent already; that must not end the process.
    XWindowAttributes parent{};
    const auto previous = XSetErrorHandler(&NoteError);
    const Status found = XGetWindowAttributes(m_display, m_parent, &parent);
    XSetErrorHandler(previous);
    if (found == 0) {
        return false;
    }
    m_parent_width = parent.width;
    m_parent_height = parent.height;
    const int32_t width = std::clamp(parent.width, 1, m_max_side);
    const int32_t height = std::clamp(parent.height, 1, m_max_side);
    if (width == m_width && height == m_height) {
        return false;
    }
    XResizeWindow(m_display, m_window, width, height);
    m_width = width;
    m_height = height;
    return true;
}

void X11Window::Show(cairo_surface_t* picture) {
    cairo_t* cr = cairo_create(m_surface);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, picture, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(m_surface);
    XFlush(m_display);
}

} // namespace lv2ui
