// Views files: the photographs with depth that `strata make --views` fuses, as a JSON array of
// one entry a view: {"colour": FILE, "depth": FILE, "camera": CAMERA, "depthScale": S}, where
// CAMERA is a camera record as in a camera file (its field of view spans the picture's smaller
// side; its near, far and frame size are not used) or {"intrinsics": [fx, fy, cx, cy],
// "position": [..], "direction": [..], "up": [..]}, file names are relative to the views file,
// and "depthScale" (optional) replaces the scale given for 16-bit PNG depth maps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "maker/rgbd_view.h"

namespace strata::maker {

inline constexpr std::size_t kMaxViews = 256;
inline constexpr std::uint64_t kMaxViewsFileBytes = std::uint64_t{4} << 20;

// Reads the views file and every picture and depth map it names. False with one line naming the
// file (and the entry: "view 2: ...") and the problem: JSON that does not parse, an entry that is
// not an object or has a field other than the four, a missing or mistyped field, a camera that
// cannot be built, pictures that do not read or differ in size from their depth maps, no views or
// more than kMaxViews. `views` is left unchanged on failure.
bool loadViewsFile(const std::string& path, double depthScale, std::vector<RgbdView>& views,
                   std::string& error);

}  // namespace strata::maker
