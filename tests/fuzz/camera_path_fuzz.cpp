// libFuzzer target for the camera path reader: a JSON array of camera records, and the smooth
// path through them (positions on a spline, orientations by slerp) when it reads.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "render/camera_file.h"
#include "render/camera_path.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<strata::render::CameraRecord> keys;
    std::string error;
    if (!strata::render::cameraListFromJson(text, "fuzz", keys, error)) {
        return 0;
    }
    const std::int32_t frames = static_cast<std::int32_t>(keys.size() * 3 + 1);
    const std::vector<strata::render::CameraRecord> path =
        strata::render::pathSequence(keys, std::min<std::int32_t>(frames, 200));
    for (const strata::render::CameraRecord& c : path) {
        // Every frame of a path of readable keys is a finite camera.
        if (!std::isfinite(c.position.x) || !std::isfinite(c.direction.x) ||
            !std::isfinite(c.up.y) || !std::isfinite(c.fovDegrees)) {
            std::abort();
        }
    }
    return 0;
}
