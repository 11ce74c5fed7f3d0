#include "render/splat_size_table.h"

#include <algorithm>
#include <cmath>

#include "geometry/normal_table.h"

namespace strata::render {

std::int32_t sizeClassCount(std::int32_t binCount, std::size_t boundCount) {
    std::int64_t count = std::clamp<std::int64_t>(binCount, 0, kMaxSizeClasses);
    const std::int64_t usable = boundCount > 0 ? static_cast<std::int64_t>(boundCount) - 1 : 0;
    return static_cast<std::int32_t>(std::min(count, usable));
}

void SplatSizeTable::build(float splatScale, const geometry::Vector3& outDir,
                           const geometry::Vector3& refDir, std::span<const float> bounds,
                           std::int32_t binCount, float maxRatio) {
    const std::int32_t classes = sizeClassCount(binCount, bounds.size());
    const auto normals = geometry::normalTable();
    for (int n = 0; n < geometry::kNormalCount; ++n) {
        const geometry::Vector3& normal = normals[static_cast<std::size_t>(n)];
        const float ratio =
            std::min(std::sqrt(std::fabs(dot(normal, outDir) / dot(normal, refDir))), maxRatio);
        const float scale = splatScale * ratio;
        for (int j = 0; j < kMaxSizeClasses; ++j) {
            const std::size_t index = static_cast<std::size_t>((n << 5) | j);
            if (j < classes) {
                const auto b = static_cast<std::size_t>(j);
                entries[index] = scale * (bounds[b] + bounds[b + 1]) * 0.5f;
            } else {
                entries[index] = 0.0f;
            }
        }
    }
}

}  // namespace strata::render
