// The frame margin: every frame is drawn into a buffer larger than the picture by a margin on
// every side, with the warp's viewport shifted by the margin, and the picture is the inner
// rectangle. The kernels' guard band (which keeps every footprint inside the buffer) then lies
// in the margin, so samples near the picture's edge are drawn like any other.
#pragma once

#include <cstdint>

#include "geometry/view_camera.h"
#include "render/output_view.h"

namespace strata::render {

// A 7 x 7 footprint centred up to 3 pixels outside the picture still reaches its edge. The
// guard band keeps sample positions x with 2.5 < x < size - 6: 6 pixels would do on the low
// side, the high side needs 3 + 6.5 (rounded up, the margin is the same on every side).
inline constexpr std::int32_t kFrameMargin = 9;

// The picture's rectangle inside a frame buffer, in buffer pixels.
struct OutputWindow {
    std::int32_t x0 = 0;
    std::int32_t y0 = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// The rectangle that the camera's viewport (as makeOutputView and withMargin build it) places
// inside a bufferWidth x bufferHeight buffer. A viewport of another form, or one that does not
// lie inside the buffer, gives the whole buffer.
OutputWindow outputWindow(const geometry::ViewCamera& camera, std::int32_t bufferWidth,
                          std::int32_t bufferHeight);

// The camera with its view angle widened so that its square view volume sees the whole buffer
// around the window its viewport places (the same camera when the window is the whole, square
// buffer; a wide or tall window takes the angle of its larger side): for choosing what to
// traverse, so samples in the margin whose footprints reach into the picture are drawn.
geometry::ViewCamera wholeBufferCamera(const geometry::ViewCamera& camera, std::int32_t bufferWidth,
                                       std::int32_t bufferHeight);

// The same view drawn `margin` pixels right and up of the buffer's origin: viewport and warp
// matrix translated by (margin, margin). Precondition: margin >= 0.
OutputView withMargin(const OutputView& view, std::int32_t margin);

}  // namespace strata::render
