#include "maker/voxel_encoding.h"

#include <algorithm>
#include <cmath>

#include "geometry/matrix.h"
#include "ldi/voxel_model.h"
#include "platform/byte_io.h"

namespace strata::maker {

namespace {
constexpr float kRightAngle = 1.5707964f;
constexpr float kFarDistance = 2.0f;  // voxel-frame distance of file depth 1
}  // namespace

VoxelMapping voxelMappingFor(const PinholeCamera& camera, const Bounds& bounds) {
    VoxelMapping mapping;
    mapping.camera = camera;
    mapping.camera.fov = kRightAngle;
    mapping.camera.near = 0.0f;
    mapping.camera.far = 0.0f;
    // The scene centre at distance 1 (file depth 0), where the model's splats are one cell
    // wide; a camera so close that the far side would pass distance 2 scales down further.
    const float along = geometry::dot(bounds.centre() - camera.pos, camera.dir);
    const float unit = std::max(along, (along + bounds.radius()) / kFarDistance);
    mapping.unit = unit > 0.0f && std::isfinite(unit) ? unit : 1.0f;
    return mapping;
}

geometry::Vector3 voxelFromWorld(const VoxelMapping& mapping, const geometry::Vector3& p) {
    const geometry::Vector3 d = p - mapping.camera.pos;
    const PinholeCamera& c = mapping.camera;
    return geometry::Vector3{geometry::dot(d, c.side()), geometry::dot(d, c.up),
                             -geometry::dot(d, c.dir)} *
           (1.0f / mapping.unit);
}

geometry::Vector3 worldFromVoxel(const VoxelMapping& mapping, const geometry::Vector3& q) {
    const PinholeCamera& c = mapping.camera;
    return c.pos + (c.side() * q.x + c.up * q.y - c.dir * q.z) * mapping.unit;
}

std::int32_t voxelGridSideFor(std::int32_t size) {
    return 2 * size + 1;
}

float voxelPixelWidthFor(std::int32_t side) {
    // int(2 / w + 1.5) = R for w = 2 / (R - 1); a single cell needs 2 / w below 0.5.
    return side > 1 ? 2.0f / static_cast<float>(side - 1) : 8.0f;
}

std::vector<std::uint8_t> encodeVoxelFile(const LayeredImage& image, const VoxelMapping& mapping) {
    const std::int32_t side = image.width;
    const std::int32_t centre = (side - 1) / 2;
    const geometry::Matrix4 projection = ldi::VoxelReferenceView(side).projection;
    platform::ByteWriter out;
    std::int32_t records = 0;
    out.putI32BE(0);  // record count, filled in below
    out.putF32BE(voxelPixelWidthFor(side));
    for (std::int32_t row = 0; row < image.height; ++row) {
        for (std::int32_t column = 0; column < side; ++column) {
            const int layers = image.layerCount(row, column);
            if (layers == 0) {
                continue;
            }
            out.putI32BE(row - centre);
            out.putI32BE(column - centre);
            out.putI32BE(layers);
            // Stored farthest first: the file wants them nearest first.
            for (int layer = layers - 1; layer >= 0; --layer) {
                const LayerSample& sample = image.sample(row, column, layer);
                const float distance = sample.depth / mapping.unit;
                const geometry::Vector4 clip =
                    geometry::transform(projection, {0.0f, 0.0f, -distance, 1.0f});
                out.putF32BE(ldi::VoxelZToDepth(clip.z / clip.w));
                out.putU8(static_cast<std::uint8_t>(sample.colour >> 16));
                out.putU8(static_cast<std::uint8_t>(sample.colour >> 8));
                out.putU8(static_cast<std::uint8_t>(sample.colour));
            }
            ++records;
        }
    }
    platform::storeU32BE(out.bytes().data(), static_cast<std::uint32_t>(records));
    return out.bytes();
}

}  // namespace strata::maker
