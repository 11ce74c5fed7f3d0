// The 64 quantised normal directions. A depth pixel's 6-bit normal index refers to this table;
// every encoder and decoder in the system uses these same vectors in this order.
#pragma once

#include <array>
#include <span>

#include "geometry/vector.h"

namespace strata::geometry {

inline constexpr int kNormalCount = 64;

std::span<const Vector3, kNormalCount> normalTable();

}  // namespace strata::geometry
