// Camera records (camera files) as the command line's pinhole camera and back: --camera of
// `strata render` and `strata trace`, and --print-camera --json.
#pragma once

#include <cstdint>
#include <string>

#include "maker/pinhole_camera.h"
#include "render/camera_file.h"

namespace strata::tools {

// Degrees to radians as the --fov flag converts them.
float radiansFromDegrees(float degrees);
// The degrees that radiansFromDegrees turns back into exactly `radians` when there are such.
float degreesFromRadians(float radians);

// The record's camera (fov in radians, near and far taken over). Direction and up are used as
// stored when they are already unit and perpendicular (so a printed camera reads back bit for
// bit), else normalised. False with a message when the camera cannot view.
bool pinholeFromRecord(const render::CameraRecord& record, maker::PinholeCamera& camera,
                       std::string& error);

render::CameraRecord recordFromPinhole(const maker::PinholeCamera& camera, std::int32_t width,
                                       std::int32_t height, float near, float far);

}  // namespace strata::tools
