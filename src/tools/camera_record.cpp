#include "tools/camera_record.h"

#include <cmath>

namespace strata::tools {

float radiansFromDegrees(float degrees) {
    return degrees * 3.14159265f / 180.0f;
}

float degreesFromRadians(float radians) {
    const float guess = radians * 180.0f / 3.14159265f;
    float down = guess;
    float up = guess;
    for (int i = 0; i < 8; ++i) {
        if (radiansFromDegrees(down) == radians) {
            return down;
        }
        if (radiansFromDegrees(up) == radians) {
            return up;
        }
        down = std::nextafter(down, -INFINITY);
        up = std::nextafter(up, INFINITY);
    }
    return guess;
}

bool pinholeFromRecord(const render::CameraRecord& record, maker::PinholeCamera& camera,
                       std::string& error) {
    maker::PinholeCamera c;
    c.pos = record.position;
    c.dir = record.direction;
    c.up = record.up;
    c.fov = radiansFromDegrees(record.fovDegrees);
    c.near = record.near;
    c.far = record.far;
    maker::PinholeCamera normal = c;
    if (!maker::normalizeCamera(normal, error)) {
        return false;
    }
    constexpr float kTolerance = 1e-6f;
    const bool orthonormal = std::fabs(c.dir.length() - 1.0f) < kTolerance &&
                             std::fabs(c.up.length() - 1.0f) < kTolerance &&
                             std::fabs(geometry::dot(c.dir, c.up)) < kTolerance;
    camera = orthonormal ? c : normal;
    return true;
}

render::CameraRecord recordFromPinhole(const maker::PinholeCamera& camera, std::int32_t width,
                                       std::int32_t height, float near, float far) {
    render::CameraRecord r;
    r.position = camera.pos;
    r.direction = camera.dir;
    r.up = camera.up;
    r.fovDegrees = degreesFromRadians(camera.fov);
    r.near = near;
    r.far = far;
    r.width = width;
    r.height = height;
    return r;
}

}  // namespace strata::tools
