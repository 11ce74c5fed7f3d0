// Voxel files of a scene. The voxel model always draws from its own reference view (eye at the
// origin looking along -z, +y up, 90 degrees, the scene between distances 0.4 and 2 for file
// depths -1..1), so the maker maps the scene into that frame: the voxel eye is the camera's
// position, its axes are the camera's (side, up, -dir), and lengths are divided by `unit`,
// chosen so that the far side of the scene's bounding sphere lies at distance 2. A world point
// p is at ((p - pos).side, (p - pos).up, -(p - pos).dir) / unit in the voxel frame; a camera
// in the voxel frame maps back the same way, so `strata render` of the file from the voxel
// frame's origin (fov 45) shows what `strata trace` shows from the camera.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "geometry/vector.h"
#include "maker/layered_image.h"
#include "maker/pinhole_camera.h"
#include "maker/scene.h"

namespace strata::maker {

struct VoxelMapping {
    PinholeCamera camera;  // the voxel eye in the world: the camera with a 90-degree field
    float unit = 1.0f;     // world length of one voxel-frame unit
};

// The mapping for a normalised camera and the scene's bounds (see above).
VoxelMapping voxelMappingFor(const PinholeCamera& camera, const Bounds& bounds);

// A world point in the voxel frame, and a voxel-frame point in the world.
geometry::Vector3 voxelFromWorld(const VoxelMapping& mapping, const geometry::Vector3& p);
geometry::Vector3 worldFromVoxel(const VoxelMapping& mapping, const geometry::Vector3& q);

// The grid side of `strata make --kind voxel --size N`: 2 N + 1 cells over 90 degrees, so the
// camera's own 45-degree view spans about 0.83 N cells.
std::int32_t voxelGridSideFor(std::int32_t size);

// The file pixel width of a grid side R: a width the reader turns back into exactly R.
float voxelPixelWidthFor(std::int32_t side);

// The voxel file bytes of a layered image sampled with mapping.camera on an R x R grid: one
// record per covered cell in row-major order (x = row - c, y = column - c), samples nearest
// first with the file depth whose normalised depth puts them at their eye depth.
std::vector<std::uint8_t> encodeVoxelFile(const LayeredImage& image, const VoxelMapping& mapping);

}  // namespace strata::maker
