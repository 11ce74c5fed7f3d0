// Drawing steps shared by every LDI kind: the draw set-up that fills the object's warp state,
// and the frame-level switches a caller hands to an object before it draws.
#pragma once

#include <cstdint>
#include <functional>

#include "geometry/matrix.h"
#include "geometry/view_camera.h"
#include "imageutil/rgb_image.h"
#include "ldi/ldi_base.h"
#include "render/output_view.h"
#include "render/soft_splat.h"

namespace strata::ldi {

// The draw set-up of every kind, in order: copies outputCamera into outputView, resets
// drawStats, fills ldi.warp (S, depth-correction constants and table, the warp transform and
// epipole, the splat-size table when options.sizeAccurate is 0, both image-plane frames) and,
// with scanline culling on, gives the culler the warp transform. Ranges are half-open and
// limited to the grid. Returns false when nothing can be drawn (empty range or frame, broken
// warp matrix): the caller then draws nothing and returns drawStats.
bool BeginDraw(LdiBase& ldi, const geometry::Matrix4& warpMatrix,
               const geometry::ViewCamera& outputCamera, const imageutil::RgbImage& frame,
               IntRange xRange, IntRange yRange);

// The switches of one frame: the render options the caller hands to the object, the
// floating-point modes of the draw and the background. Defaults are the viewer's menu defaults:
// splatting and depth correction on, splat size from the table, frustum clipper on, truncating
// conversions at single precision, grey background.
struct FrameSettings {
    bool useSplat = true;
    bool useDepthCorrection = true;
    bool backfaceCulling = false;
    bool scanlineCulling = false;
    bool frustumClipper = true;
    bool useFalseColor = false;
    std::int32_t falseColorMode = 0;
    std::int32_t sizeAccurate = 0;
    bool lowerHalfOnly = false;
    bool upperHalfOnly = false;
    bool benchFlag = false;
    bool useTrunc = true;
    bool useSinglePrecision = true;
    // Soft depth-tested splats with a limited size ratio, backface culling and a fill of small
    // gaps (true colour only; false colour draws as without it).
    bool highQualitySplats = false;
    std::uint32_t background = 0xB2B2B2u;
    // Horizon background: the bottom groundRows rows of the picture take groundColor.
    std::int32_t groundRows = 0;
    std::uint32_t groundColor = 0x0A3C0Au;
};

// True when the options ask for high-quality splats of true colours.
inline bool HighQualityRequested(const LdiRenderOptions& options) {
    return options.highQualitySplats != 0 && options.useFalseColor == 0;
}

// Copies the settings into the object's render options and sets the settings-given marker.
void ApplyFrameSettings(LdiBase& ldi, const FrameSettings& settings);

// Buffers of the frame function, kept between frames so a frame allocates nothing once sizes
// settle.
struct FrameScratch {
    imageutil::RgbImage padded;    // the picture with the margin on every side
    render::SoftSplatBuffer soft;  // high-quality mode only
};

// The object's part of a frame: draw into target (the padded buffer, already holding the
// background) from view (the frame's view shifted by the margin). soft is null, or the empty
// soft-splat buffer of target's size for high-quality mode; a kernel that writes it sets its
// `written` flag. Returns the draw's counters.
using ObjectDraw = std::function<LdiDrawStats(
    const render::OutputView& view, imageutil::RgbImage& target, render::SoftSplatBuffer* soft)>;

// The frame function of every path that draws a picture (`strata render`, the viewer): fills a
// buffer larger than frame by render::kFrameMargin on every side with the background, runs draw
// with the view shifted by the margin inside the floating-point modes of the settings (restored
// afterwards), resolves the soft splats in high-quality mode, and copies the inner rectangle
// into frame. Returns the draw's counters.
LdiDrawStats DrawFrameWith(const FrameSettings& settings, const render::OutputView& view,
                           imageutil::RgbImage& frame, FrameScratch& scratch,
                           const ObjectDraw& draw);

// One frame of an LDI object as the viewer draws it: the frame function around handing the
// settings to the object and calling its DrawAll with the view's warp matrix, view matrix and
// camera. The overload without scratch uses one kept per thread.
LdiDrawStats DrawFrame(LdiBase& ldi, const FrameSettings& settings, const render::OutputView& view,
                       imageutil::RgbImage& frame, FrameScratch& scratch);
LdiDrawStats DrawFrame(LdiBase& ldi, const FrameSettings& settings, const render::OutputView& view,
                       imageutil::RgbImage& frame);

}  // namespace strata::ldi
