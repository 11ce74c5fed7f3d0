// Small pieces shared by the files of AppView: vector helpers, the zoom range, the walk over
// every depth pixel's nearest and farthest sample and the set's first loaded level.
#pragma once

#include <cmath>
#include <cstdint>

#include "geometry/matrix.h"
#include "geometry/vector.h"
#include "ldi/ldi_base.h"
#include "ldi/ldi_set.h"
#include "ldi/ldi_types.h"

namespace strata::app::detail {

inline constexpr float kZoomFloor = 0.017f;
inline constexpr float kZoomCeiling =
    3.12f;  // below pi: the projection stays finite and unmirrored

inline geometry::Vector3 xyz(const geometry::Vector4& v) {
    return {v.x, v.y, v.z};
}

inline geometry::Vector3 turnDirection(const geometry::Matrix4& m, const geometry::Vector3& d) {
    return xyz(geometry::transform(m, geometry::direction(d)));
}

// Whether the object draws the half restrictions (keys L and U) and the bench rows of Run test:
// the QP kinds only; CP and MRQP pictures are drawn whole.
inline bool DrawsHalvesAndBenchRows(const ldi::LdiBase& object) {
    return object.KindDptType() == ldi::toInt(ldi::DptType::QP);
}

// A depth pixel's place in its LDI: column, row and normalised depth.
struct DepthPixel {
    std::int32_t col = 0;
    std::int32_t row = 0;
    float z = 0.0f;
};

// The world point of LDI position (col, row, z) through worldFromLdi, the inverse of the
// reference camera's full transform; false for a point at infinity or not finite.
inline bool worldPoint(const geometry::Matrix4& worldFromLdi, float col, float row, float z,
                       geometry::Vector3& q) {
    const geometry::Vector4 p = geometry::transform(worldFromLdi, {col, row, z, 1.0f});
    if (!(p.w != 0.0f)) {
        return false;
    }
    q = {p.x / p.w, p.y / p.w, p.z / p.w};
    return std::isfinite(q.x) && std::isfinite(q.y) && std::isfinite(q.z);
}

// Calls visit(point, nearest, pixel) with the world point of every depth pixel's nearest and
// farthest sample, carried back through the LDI's reference camera (non-finite points skipped).
template <typename Visit>
void forEachDepthRangePoint(const ldi::LdiBase& object, Visit&& visit) {
    const geometry::Matrix4 worldFromLdi = geometry::inverse(object.header.view.fullTransform());
    const auto carry = [&](std::int32_t col, std::int32_t row, float z, bool nearest) {
        geometry::Vector3 q;
        if (worldPoint(worldFromLdi, static_cast<float>(col), static_cast<float>(row), z, q)) {
            visit(q, nearest, DepthPixel{col, row, z});
        }
    };
    for (std::int32_t row = 0; row < object.height(); ++row) {
        for (std::int32_t col = 0; col < object.width(); ++col) {
            float lo = 0.0f;
            float hi = 0.0f;
            if (object.NormalisedDepthRange(row, col, lo, hi) != 0) {
                carry(col, row, lo, true);
                carry(col, row, hi, false);
            }
        }
    }
}

// The first level that loaded in the set's first member pyramid that has one.
ldi::LdiBase* firstSetLevel(const ldi::LdiSet& set);

}  // namespace strata::app::detail

// The files of AppView use these names as their own.
namespace strata::app {
using geometry::Matrix4;
using geometry::Vector3;
using geometry::Vector4;
using namespace detail;
}  // namespace strata::app
