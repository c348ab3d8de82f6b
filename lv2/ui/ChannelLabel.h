// The stereo view's mark of the channel it displays: "L+R" for the mix, "L" or "R", drawn in
// the picture's top right corner over whatever the module painted there.
#pragma once

#include <cairo.h>

#include <cstdint>

namespace lv2ui {

// Draws the mark of a lv2proto::DisplayedChannel; nothing on a picture too small to hold it.
// Strokes only, no font: it looks the same on every system.
void DrawChannelLabel(cairo_surface_t* picture, int32_t channel);

} // namespace lv2ui
