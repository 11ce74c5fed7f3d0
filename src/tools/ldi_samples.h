// The depth samples of an LDI one by one, as `strata export` writes them: pixel by pixel from row
// 0, each pixel's layers in storage order (farthest first), a quad's bottom half then its top
// half; each unprojected from its reference camera into world space.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "geometry/vector.h"
#include "geometry/view_camera.h"
#include "ldi/ldi_base.h"

namespace strata::tools {

struct LdiSample {
    geometry::Vector3 position;
    std::uint32_t colour = 0;  // 0x00RRGGBB
    geometry::Vector3 normal;  // the normal-table entry; 0 where none is stored or usable
    std::int32_t row = 0;      // of the whole grid (a quad's top half follows its bottom half)
    std::int32_t column = 0;
    std::int32_t layer = 0;   // counted from the front (0 the nearest)
    std::uint32_t code = 0;   // the depth as stored: QP/MRQP 20-bit code, CP 8-bit bin code
    float depth = 0.0f;       // the normalised depth of the code
    std::uint32_t masks = 0;  // MRQP: the 4 x 4 mask in bits 0-15, the 2 x 2 in bits 16-19
};

using SampleSink = std::function<void(const LdiSample&)>;

// Visits every sample of the LDI, or with layer >= 0 only layer `layer` from the front of every
// pixel. normals tells whether the kind stores normals. False with a message for a kind that
// cannot be visited or a reference camera that cannot be inverted.
bool visitSamples(const ldi::LdiBase& ldi, int layer, const SampleSink& sink, bool& normals,
                  std::string& error);

// Device coordinates of a pixel centre and a normalised depth back to the world, through the
// inverse of projection * lookAtRotation(dir, up) * translation(-pos) of a reference camera
// (in double precision).
class Unprojector {
  public:
    // False with a message when the camera cannot be inverted.
    bool prepare(const geometry::ViewCamera& view, std::int32_t width, std::int32_t height,
                 std::string& error);
    geometry::Vector3 at(std::int32_t row, std::int32_t column, float zNdc) const;

  private:
    std::array<double, 16> inverse_{};
    std::int32_t width_ = 1;
    std::int32_t height_ = 1;
};

}  // namespace strata::tools
