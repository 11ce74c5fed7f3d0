#include "maker/shading.h"

#include <algorithm>
#include <array>

#include "geometry/quantise.h"

namespace strata::maker {

namespace {
constexpr std::array<ShadingModeName, 3> kNames{{
    {ShadingMode::unlit, "unlit"},
    {ShadingMode::lambert, "lambert"},
    {ShadingMode::normal, "normal"},
}};
}  // namespace

std::span<const ShadingModeName> shadingModeNames() {
    return kNames;
}

std::string_view shadingModeName(ShadingMode mode) {
    for (const ShadingModeName& entry : kNames) {
        if (entry.mode == mode) {
            return entry.name;
        }
    }
    return "?";
}

std::optional<ShadingMode> shadingModeFromName(std::string_view name) {
    for (const ShadingModeName& entry : kNames) {
        if (entry.name == name) {
            return entry.mode;
        }
    }
    return std::nullopt;
}

Colour shade(const Colour& colour, const geometry::Vector3& normal, const ShadingOptions& options) {
    switch (options.mode) {
        case ShadingMode::unlit:
            return colour;
        case ShadingMode::normal:
            return {(normal.x + 1.0f) * 0.5f, (normal.y + 1.0f) * 0.5f, (normal.z + 1.0f) * 0.5f};
        case ShadingMode::lambert: {
            const geometry::Vector3 l = geometry::normalized(options.light);
            const float a = std::clamp(options.ambient, 0.0f, 1.0f);
            const float k = a + (1.0f - a) * std::max(0.0f, geometry::dot(normal, l));
            return {colour.r * k, colour.g * k, colour.b * k};
        }
    }
    return colour;
}

std::uint32_t packPixel(const Colour& colour) {
    return geometry::packColour(colour.r, colour.g, colour.b, 0.0f);
}

}  // namespace strata::maker
