// Per-object drawing state of an LDI: the renderer tables (kept between draws) and the warp
// constants of the current draw (rewritten by every draw). Every LDI kind embeds one; the draw
// set-up below fills it in the order the kernels need.
#pragma once

#include <cstdint>
#include <limits>
#include <span>

#include "geometry/image_plane_frame.h"
#include "geometry/matrix.h"
#include "geometry/view_camera.h"
#include "render/depth_correction_table.h"
#include "render/frame_margin.h"
#include "render/soft_splat.h"
#include "render/splat_size_table.h"
#include "render/traversal.h"
#include "render/warp_setup.h"

namespace strata::render {

struct WarpState {
    // Tables. The depth-correction table is rebuilt whenever the output size or its parameters
    // change; the splat-size table on every draw that reads it.
    DepthCorrectionTable depthCorrection;
    SplatSizeTable splatSize;

    // Warp constants of the current draw.
    WarpSetup setup;                     // T, its z column, the epipole and the behind flag
    TraversalRange range;                // source columns and rows, LDI width and height
    geometry::ViewCamera outputCamera;   // copy of the camera of the frame being drawn
    geometry::ImagePlaneFrame refFrame;  // pixel rays of the reference camera (LDI size)
    geometry::ImagePlaneFrame outFrame;  // pixel rays of the output camera, in buffer pixels
    OutputWindow window;                 // the picture inside the frame buffer
    std::int32_t outWidth = 0;           // the picture's width and height (window size)
    std::int32_t outHeight = 0;
    std::int32_t bufferWidth = 0;  // the frame buffer's width and height
    std::int32_t bufferHeight = 0;
    float halfWidth = 0.0f;  // output width / 2, height / 2
    float halfHeight = 0.0f;
    float tanLdi = 0.0f;      // tan(fov / 2) of the reference camera
    float tanOut = 0.0f;      // tan of half the output camera's horizontal view angle
    float splatScale = 0.0f;  // S: output pixels per reference pixel at equal depth
    DepthCorrectionParameters correction;
    float facing = 0.0f;  // normal . output ray of the last sample that computed it

    // High-quality splatting: when the frame function hands a buffer of the frame buffer's size,
    // kernels whose options ask for it write soft depth-tested footprints there instead of
    // blending into the frame. Not touched by beginDraw.
    SoftSplatBuffer* soft = nullptr;
};

// True when a draw into a buffer of this size may write soft footprints into state.soft.
inline bool softTargetFits(const WarpState& state, std::int32_t bufferWidth,
                           std::int32_t bufferHeight) {
    return state.soft != nullptr && state.soft->width == bufferWidth &&
           state.soft->height == bufferHeight &&
           state.soft->pixels.size() ==
               static_cast<std::size_t>(bufferWidth) * static_cast<std::size_t>(bufferHeight);
}

// What a draw needs besides the LDI's samples.
struct DrawSetupInput {
    geometry::ViewCamera ldiView;  // the LDI's reference camera
    std::int32_t ldiWidth = 0;
    std::int32_t ldiHeight = 0;
    geometry::Matrix4 warpMatrix;       // the frame's warp matrix (world to output clip space)
    geometry::ViewCamera outputCamera;  // the frame's camera; its viewport places the picture
    std::int32_t outWidth = 0;          // the frame buffer's width and height
    std::int32_t outHeight = 0;
    std::int32_t x0 = 0;  // half-open source ranges; limited to the LDI grid here
    std::int32_t x1 = 0;
    std::int32_t y0 = 0;
    std::int32_t y1 = 0;
    bool buildSplatTable = false;   // the approximate splat-size path is in use
    std::span<const float> bounds;  // size-class bounds (the header's bins)
    std::int32_t binCount = 0;
};

// The draw set-up shared by every LDI kind: stores the output camera and sizes, computes S and
// the depth-correction parameters, (re)builds the depth-correction table, runs the warp set-up,
// builds the splat-size table when asked, and builds both image-plane frames. The picture's
// size (S, the depth-correction table and centre, the output pixel rays) is the window that the
// camera's viewport places inside the buffer; the output rays are counted in buffer pixels, so
// kernels index them with buffer positions. Returns false
// when nothing can be drawn: an empty range, an output image smaller than a footprint, or a
// non-finite epipole. facing is reset to 0.
bool beginDraw(WarpState& state, const DrawSetupInput& input);

}  // namespace strata::render
