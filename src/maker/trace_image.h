// A ray-traced picture of the nearest surfaces from any camera: one ray through each pixel
// centre, shaded like the LDI samples, and the viewer's grey where nothing is hit. It is the
// reference the LDI drawing is compared with.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "maker/pinhole_camera.h"
#include "maker/ray_caster.h"
#include "maker/row_runner.h"
#include "maker/shading.h"

namespace strata::maker {

inline constexpr std::uint32_t kViewerBackground = 0xB2B2B2;

struct TraceOptions {
    std::int32_t width = 350;
    std::int32_t height = 350;
    ShadingOptions shading;
    std::uint32_t background = kViewerBackground;  // 0x00RRGGBB
    int threads = 2;
    ProgressCallback progress;
};

// Pixel words 0x00RRGGBB, width * height, row 0 at the BOTTOM: pixel (X, Y) at Y * width + X,
// seeing along dir + ((2(X + 0.5)/W - 1) tx) side + ((2(Y + 0.5)/H - 1) ty) up, with the
// tangents of frameTangents: fov spans the smaller side and pixels are square, as in the viewer
// and `strata render`. The depth range is that of castRange, so on a square grid the picture
// equals the front layer of an LDI made with the same camera (an LDI spans fov on both axes
// whatever its shape). camera must be normalised. Returns false (error set)
// for sizes out of range. With depths given, it receives the eye depth (distance along dir) of
// each pixel's nearest surface in the same order, +infinity where nothing is hit.
bool traceImage(const RayCaster& caster, const PinholeCamera& camera, const TraceOptions& options,
                std::vector<std::uint32_t>& pixels, std::string& error,
                std::vector<float>* depths = nullptr);

}  // namespace strata::maker
