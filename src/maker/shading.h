// View-independent shading of surface points: the colour as it is, a Lambert term from one
// directional light over an ambient floor, or the outward normal shown as a colour. None of the
// modes looks at the viewing direction, so an LDI re-renders consistently from other views.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "geometry/vector.h"
#include "maker/scene.h"

namespace strata::maker {

enum class ShadingMode { unlit, lambert, normal };

struct ShadingModeName {
    ShadingMode mode;
    std::string_view name;
};
// The one name table for parsing, help and printed output.
std::span<const ShadingModeName> shadingModeNames();
std::string_view shadingModeName(ShadingMode mode);
std::optional<ShadingMode> shadingModeFromName(std::string_view name);

struct ShadingOptions {
    ShadingMode mode = ShadingMode::lambert;
    geometry::Vector3 light{0.4f, 0.8f, 0.6f};  // toward the light; need not be unit length
    float ambient = 0.3f;                       // 0..1
};

// unlit: colour; lambert: colour * (ambient + (1 - ambient) * max(0, n.l)) with l the unit light
// direction; normal: (n + 1) / 2. n is the outward unit normal.
Colour shade(const Colour& colour, const geometry::Vector3& normal, const ShadingOptions& options);

// 0x00RRGGBB of a colour, each channel truncate(c * 255) limited to 0..255.
std::uint32_t packPixel(const Colour& colour);

}  // namespace strata::maker
