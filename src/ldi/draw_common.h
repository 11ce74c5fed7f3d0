// Drawing steps shared by every LDI kind: the draw set-up that fills the object's warp state,
// and the frame-level switches a caller hands to an object before it draws.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "geometry/matrix.h"
#include "geometry/view_camera.h"
#include "imageutil/rgb_image.h"
#include "ldi/ldi_base.h"
#include "platform/worker_pool.h"
#include "render/output_view.h"
#include "render/soft_splat.h"

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
// high-quality splats, splatting and depth correction on, splat size from the table, frustum
// clipper on, truncating conversions at single precision, grey background.
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
    // Depth-tested splats shaped by each sample's surface, culling of surfaces seen from the
    // side that hides them and a fill of small gaps (true colour only; false colour draws as
    // without it).
    bool highQualitySplats = true;
    std::uint32_t background = 0xB2B2B2u;
    bool horizonBackground = false;  // sky (background) above the horizon, ground below
    geometry::Vector3 worldUp{0.0f, 0.0f, 1.0f};  // the up axis of the world the horizon lies in
    std::uint32_t groundColor = 0x0A3C0Au;
    // Inspection: draw only this layer counted from the front (-1 every layer), and the coverage
    // mask to fill (frame.width x frame.height bytes, cleared by the frame; null for none).
    std::int32_t onlyLayer = -1;
    std::uint8_t* coverage = nullptr;
};

// Which settings a frame hands to the object: all of them (a caller that owns no other path to
// the object), or only the switches the viewer hands over every frame (splatting, high-quality
// splats, backface culling, false colour and its mode, the half restrictions); the viewer hands
// the others over when its menu commands change them.
enum class HandOver { all, frameSwitches };

// Copies the settings into the object's render options and sets the settings-given marker.
void ApplyFrameSettings(LdiBase& ldi, const FrameSettings& settings);

// Copies the per-frame switches into the object's render options and sets the marker.
void ApplyFrameSwitches(LdiBase& ldi, const FrameSettings& settings);

// Clears frame to the background: flat, or with horizonBackground sky (the background colour)
// above the horizon of camera and ground below it (HorizonBackground).
void FillBackground(imageutil::RgbImage& frame, const FrameSettings& settings,
                    const geometry::ViewCamera& camera);

// The horizon background of a width x height picture drawn into target, which holds the picture
// with `margin` pixels more on every side (the margin continues the picture). The horizon is the
// line where the world's horizontal plane (normal settings.worldUp) through the eye meets the
// picture, placed as the original viewer placed it in its world with +z up: at the angle of the
// viewing direction above that plane, counted linearly over the picture's vertical half angle,
// and 7 rows lower; it turns with the camera's roll. Filled in `bands` row bands on the drawing
// threads.
void HorizonBackground(imageutil::RgbImage& target, std::int32_t margin, std::int32_t width,
                       std::int32_t height, const FrameSettings& settings,
                       const geometry::ViewCamera& camera, int bands = 1);

// Frames of this many pixels or more are cleared and copied out on every drawing thread: below,
// the hand-over costs more than the memory traffic a second core saves.
inline constexpr std::int64_t kParallelFramePixels = 1 << 19;
inline constexpr int kFrameBandsPerThread = 4;
// The row bands the clear and the copy of a width x height frame are cut into (1: the caller
// alone): several per drawing thread, so a thread held up elsewhere leaves its share to others.
int frameBands(std::int32_t width, std::int32_t height);
// Runs body(y0, y1) over the rows [0, rows) cut into `bands` bands, on the drawing pool.
template <class Body>
void inRowBands(std::int32_t rows, int bands, Body&& body) {
    if (bands <= 1 || rows <= 1) {
        body(0, rows);
        return;
    }
    platform::drawPool().run(bands, [&](int band) {
        body(static_cast<std::int32_t>(std::int64_t{rows} * band / bands),
             static_cast<std::int32_t>(std::int64_t{rows} * (band + 1) / bands));
    });
}

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
// into frame. Left to the program, the frame runs on one thread or on all of them as frames of
// its kind (size, mode and scene, the object drawn) measured faster. Returns the draw's counters.
LdiDrawStats DrawFrameWith(const FrameSettings& settings, const render::OutputView& view,
                           imageutil::RgbImage& frame, FrameScratch& scratch,
                           const ObjectDraw& draw, const void* scene = nullptr);

// The object draw of one frame, shared by the viewer and `strata render`: the frame function
// around the hand-over of the settings and DrawAll with warpMatrix, the camera's view matrix and
// the camera. With no object only the background is drawn. Uses a scratch kept per thread.
LdiDrawStats DrawFrameObject(LdiBase* ldi, const FrameSettings& settings, HandOver handOver,
                             const geometry::Matrix4& warpMatrix,
                             const geometry::ViewCamera& camera, imageutil::RgbImage& frame);

// The same for a voxel model: the frame function around its draw with the splat switch. No
// model: background only.
void DrawFrameVoxels(VoxelModel* model, const FrameSettings& settings,
                     const geometry::Matrix4& warpMatrix, const geometry::ViewCamera& camera,
                     imageutil::RgbImage& frame);
// The inspection part of one frame: hands the settings' layer choice to the object and, when
// the caller wants a coverage mask or the uncovered false-colour mode is on, a cleared mask of
// the target (the padded buffer) that the kernels mark. finish() copies the picture's part of the
// mask into the settings' coverage mask and, in the uncovered mode, paints the holes of the
// picture (measureCoverage) in the uncovered colour. The object's inspection is cleared again on
// destruction, so no later draw writes into a mask that is gone.
class FrameInspection {
  public:
    FrameInspection(LdiBase& ldi, const FrameSettings& settings, const imageutil::RgbImage& target,
                    std::int32_t margin);
    ~FrameInspection();
    FrameInspection(const FrameInspection&) = delete;
    FrameInspection& operator=(const FrameInspection&) = delete;

    void finish(imageutil::RgbImage& target);

  private:
    LdiBase& ldi_;
    std::uint8_t* coverage_ = nullptr;  // the caller's picture-sized mask, or null
    bool markUncovered_ = false;
    std::int32_t margin_ = 0;
    std::vector<std::uint8_t> mask_;  // target-sized
};

// One frame of an LDI object with every setting handed over: DrawFrameObject with the view's
// warp matrix and camera. The overload with scratch uses the caller's buffers.
LdiDrawStats DrawFrame(LdiBase& ldi, const FrameSettings& settings, const render::OutputView& view,
                       imageutil::RgbImage& frame, FrameScratch& scratch);
LdiDrawStats DrawFrame(LdiBase& ldi, const FrameSettings& settings, const render::OutputView& view,
                       imageutil::RgbImage& frame);

}  // namespace strata::ldi
