// Drawing steps shared by every LDI kind: the draw set-up that fills the object's warp state,
// and the frame-level switches a caller hands to an object before it draws.
#pragma once

#include <cstdint>

#include "geometry/matrix.h"
#include "geometry/view_camera.h"
#include "ldi/ldi_base.h"
#include "render/output_view.h"

namespace strata::ldi {

class VoxelModel;

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
    std::uint32_t background = 0xB2B2B2u;
    bool horizonBackground = false;  // sky (background) above the horizon, ground below
    std::uint32_t groundColor = 0x0A3C0Au;
};

// Which settings a frame hands to the object: all of them (a caller that owns no other path to
// the object), or only the switches the viewer hands over every frame (splatting, backface
// culling, false colour and its mode, the half restrictions); the viewer hands the others over
// when its menu commands change them.
enum class HandOver { all, frameSwitches };

// Copies the settings into the object's render options and sets the settings-given marker.
void ApplyFrameSettings(LdiBase& ldi, const FrameSettings& settings);

// Copies the per-frame switches into the object's render options and sets the marker.
void ApplyFrameSwitches(LdiBase& ldi, const FrameSettings& settings);

// Clears frame to the background: flat, or with horizonBackground the ground colour on the rows
// below the horizon of camera (its up vector and field of view).
void FillBackground(imageutil::RgbImage& frame, const FrameSettings& settings,
                    const geometry::ViewCamera& camera);

// The object draw of one frame, shared by the viewer and `strata render`: background, hand-over
// of the settings, then DrawAll with warpMatrix, the camera's view matrix and the camera. With
// no object only the background is drawn. Runs in the floating-point modes in force.
LdiDrawStats DrawFrameObject(LdiBase* ldi, const FrameSettings& settings, HandOver handOver,
                             const geometry::Matrix4& warpMatrix,
                             const geometry::ViewCamera& camera, imageutil::RgbImage& frame);

// The same for a voxel model: background, then its draw with the splat switch. No model:
// background only.
void DrawFrameVoxels(VoxelModel* model, const FrameSettings& settings,
                     const geometry::Matrix4& warpMatrix, const geometry::ViewCamera& camera,
                     imageutil::RgbImage& frame);

// One frame as the viewer draws it: clears frame to the background, hands the settings to the
// object, and calls DrawAll with the view's warp matrix, view matrix and camera inside the
// floating-point modes of the settings (restored afterwards). Returns the draw's counters.
LdiDrawStats DrawFrame(LdiBase& ldi, const FrameSettings& settings, const render::OutputView& view,
                       imageutil::RgbImage& frame);

}  // namespace strata::ldi
