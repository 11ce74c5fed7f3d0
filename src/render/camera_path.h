// Camera sequences for videos: an orbit about a centre and a smooth path through key cameras
// (positions on a Catmull-Rom spline, orientations by quaternion slerp, field of view, near and
// far linear between keys). Frames run from the first pose to the last inclusive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "geometry/vector.h"
#include "render/camera_file.h"

namespace strata::render {

// Most frames of one sequence.
inline constexpr std::int32_t kMaxSequenceFrames = 100000;

// frames cameras turned about the axis through centre along start.up, frame i by
// degrees * i / (frames - 1) (counter-clockwise seen from above; one frame: the start). A turn
// by a whole number of full turns gives the start camera exactly, so a 360-degree orbit ends
// where it started. frames must be 1..kMaxSequenceFrames.
std::vector<CameraRecord> orbitSequence(const CameraRecord& start, const geometry::Vector3& centre,
                                        double degrees, std::int32_t frames);

// frames cameras along the keys: frame i at key parameter (keys - 1) * i / (frames - 1). A frame
// on a key, and every frame between two keys of the same pose, is that key exactly. Frame size
// is the first key's. keys must not be empty; frames 1..kMaxSequenceFrames.
std::vector<CameraRecord> pathSequence(const std::vector<CameraRecord>& keys, std::int32_t frames);

}  // namespace strata::render
