// Drawing steps shared by every LDI kind: the draw set-up that fills the object's warp state,
// and the frame-level switches a caller hands to an object before it draws.
#pragma once

#include <cstdint>
#include <vector>

#include "geometry/matrix.h"
#include "geometry/view_camera.h"
#include "ldi/ldi_base.h"
#include "render/output_view.h"

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
    std::uint32_t background = 0xB2B2B2u;
    // Inspection: draw only this layer counted from the front (-1 every layer), and the coverage
    // mask to fill (frame.width x frame.height bytes, cleared by the frame; null for none).
    std::int32_t onlyLayer = -1;
    std::uint8_t* coverage = nullptr;
};

// Copies the settings into the object's render options and sets the settings-given marker.
void ApplyFrameSettings(LdiBase& ldi, const FrameSettings& settings);

// The inspection part of one frame: hands the settings' layer choice and coverage mask (cleared
// first) to the object; in the uncovered false-colour mode without a mask of the caller's it
// supplies its own. finish() then paints the holes of the mask (measureCoverage) in the uncovered
// colour when that mode is on. The object's inspection is cleared again on destruction, so no
// later draw writes into a mask that is gone.
class FrameInspection {
  public:
    FrameInspection(LdiBase& ldi, const FrameSettings& settings, const imageutil::RgbImage& frame);
    ~FrameInspection();
    FrameInspection(const FrameInspection&) = delete;
    FrameInspection& operator=(const FrameInspection&) = delete;

    void finish(imageutil::RgbImage& frame);

  private:
    LdiBase& ldi_;
    bool markUncovered_ = false;
    std::uint8_t* mask_ = nullptr;
    std::vector<std::uint8_t> scratch_;
};

// One frame as the viewer draws it: clears frame to the background, hands the settings to the
// object with its inspection, and calls DrawAll with the view's warp matrix, view matrix and
// camera inside the floating-point modes of the settings (restored afterwards). Returns the
// draw's counters.
LdiDrawStats DrawFrame(LdiBase& ldi, const FrameSettings& settings, const render::OutputView& view,
                       imageutil::RgbImage& frame);

}  // namespace strata::ldi
