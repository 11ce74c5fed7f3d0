// Small pieces shared by the files of AppView: vector helpers, the zoom range and the set's
// first loaded level.
#pragma once

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
