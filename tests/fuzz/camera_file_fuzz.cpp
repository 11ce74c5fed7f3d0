// libFuzzer target for the camera file reader: every input is one JSON camera record; a record
// that reads is written back and must read again as the same record.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "render/camera_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    strata::render::CameraRecord record;
    std::string error;
    if (!strata::render::cameraFromJson(text, "fuzz", record, error)) {
        return 0;
    }
    strata::render::CameraRecord again;
    if (!strata::render::cameraFromJson(strata::render::cameraToJson(record), "again", again,
                                        error) ||
        again.width != record.width || again.height != record.height ||
        again.fovDegrees != record.fovDegrees || again.near != record.near ||
        again.far != record.far) {
        std::abort();  // a record that reads must survive its own round trip
    }
    return 0;
}
