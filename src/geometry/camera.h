// The full camera record stored in every LDI header: how the LDI was captured. Four matrices, the
// camera frame and the image-window values, with point projection and text dumps.
#pragma once

#include <cstdint>
#include <cstdio>

#include "geometry/matrix.h"
#include "platform/byte_io.h"

namespace strata::geometry {

struct Camera {
    Matrix4 viewport = Matrix4::identity();
    Matrix4 projection = Matrix4::identity();
    Matrix4 affine = Matrix4::identity();    // lookAtRotation(dir, up) * translation(-pos)
    Matrix4 rotation = Matrix4::identity();  // lookAtRotation(dir, up)
    Vector3 pos;
    Vector3 dir;
    Vector3 up;
    Vector3 bi;         // horizontal image axis
    float fov = 0.0f;   // the larger of the two full view angles
    float fovX = 0.0f;  // zero-initialised so no header ever carries unset bytes
    float fovY = 0.0f;
    float fl = 0.0f;  // focal distance; -1 marks an orthographic record
    float left = 0.0f;
    float right = 0.0f;
    float bottom = 0.0f;
    float top = 0.0f;
    float clip_near = 0.0f;
    float clip_far = 0.0f;
    std::int32_t xres = 0;
    std::int32_t yres = 0;

    static constexpr std::size_t kStoredSize = 352;
    void serialize(platform::ByteWriter& out) const;
    void deserialize(platform::ByteReader& in);

    // Fills a perspective record: full angle a (radians) across the x axis of a width x height
    // image (the vertical extent follows from the aspect ratio), window at distance fl, clipping
    // distances near and far. Matrices follow the frame.
    void setPerspective(const Vector3& position, const Vector3& direction, const Vector3& upVector,
                        float angle, float focal, float near, float far, std::int32_t width,
                        std::int32_t height);

    // Perspective when fl >= 0 (outputs always written; true when inside the window),
    // orthographic otherwise (nothing written unless inside and in front).
    bool project(const Vector3& point, float& row, float& column, float& depth,
                 float& distance) const;

    void dumpToFile(std::FILE* stream) const;
    void dumpToDebugOutput() const;
};

}  // namespace strata::geometry
