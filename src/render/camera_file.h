// The camera file: one small JSON record of a view (position, direction, up, field of view in
// degrees, near, far and frame size) that the viewer saves and loads and that `strata render`
// and `strata trace` read with --camera; a path file is a JSON array of such records.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "geometry/vector.h"
#include "geometry/view_camera.h"

namespace strata::render {

struct CameraRecord {
    geometry::Vector3 position{0.0f, 0.0f, 5.0f};
    geometry::Vector3 direction{0.0f, 0.0f, -1.0f};
    geometry::Vector3 up{0.0f, 1.0f, 0.0f};  // not parallel to direction
    float fovDegrees = 45.0f;
    float near = 0.1f;
    float far = 10000.0f;
    std::int32_t width = 350;
    std::int32_t height = 350;
};

// Largest accepted frame side of a record.
inline constexpr std::int32_t kMaxRecordSide = 16384;
// The narrowest field of view a camera may have (degrees): narrower ones place the eye so far
// away (or the pixels so close together) that rays and matrices leave the float range.
inline constexpr float kMinFovDegrees = 0.01f;

// The record as JSON text (one object, keys in the order of the record, numbers with enough
// digits to read back the same floats), ending in a newline.
std::string cameraToJson(const CameraRecord& camera);

// Reads one record from JSON text. Every field is required: a missing field, a value of the
// wrong kind or a non-finite number is refused with one line naming the field; so is a camera
// that cannot view (direction zero or parallel to up, fov outside [0.01, 179] degrees, not
// 0 < near < far, sides outside 1..16384, a position coordinate beyond kMaxCameraCoordinate). The
// vectors are kept as stored (the user of the record makes them unit and perpendicular). `where`
// prefixes the message.
bool cameraFromJson(const std::string& text, const std::string& where, CameraRecord& camera,
                    std::string& error);

// The same for a list: a JSON array of one or more records.
bool cameraListFromJson(const std::string& text, const std::string& where,
                        std::vector<CameraRecord>& cameras, std::string& error);

// File forms of the three above. Saving writes a temporary file renamed into place, so a failed
// save leaves an existing file intact.
bool saveCameraFile(const std::string& path, const CameraRecord& camera, std::string& error);
bool loadCameraFile(const std::string& path, CameraRecord& camera, std::string& error);
bool loadCameraListFile(const std::string& path, std::vector<CameraRecord>& cameras,
                        std::string& error);

}  // namespace strata::render
