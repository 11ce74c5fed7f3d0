#include "geometry/camera.h"

#include <cmath>
#include <string>

#include "geometry/record_io.h"
#include "platform/debug_output.h"

namespace strata::geometry {

void Camera::serialize(platform::ByteWriter& out) const {
    putMatrix(out, viewport);
    putMatrix(out, projection);
    putMatrix(out, affine);
    putMatrix(out, rotation);
    putVector(out, pos);
    putVector(out, dir);
    putVector(out, up);
    putVector(out, bi);
    for (float v : {fov, fovX, fovY, fl, left, right, bottom, top, clip_near, clip_far}) {
        out.putF32(v);
    }
    out.putI32(xres);
    out.putI32(yres);
}

void Camera::deserialize(platform::ByteReader& in) {
    getMatrix(in, viewport);
    getMatrix(in, projection);
    getMatrix(in, affine);
    getMatrix(in, rotation);
    getVector(in, pos);
    getVector(in, dir);
    getVector(in, up);
    getVector(in, bi);
    for (float* v :
         {&fov, &fovX, &fovY, &fl, &left, &right, &bottom, &top, &clip_near, &clip_far}) {
        *v = in.getF32();
    }
    xres = in.getI32();
    yres = in.getI32();
}

void Camera::setPerspective(const Vector3& position, const Vector3& direction,
                            const Vector3& upVector, float angle, float focal, float near,
                            float far, std::int32_t width, std::int32_t height) {
    pos = position;
    dir = direction;
    up = upVector;
    bi = normalized(cross(direction, upVector));
    fl = focal;
    clip_near = near;
    clip_far = far;
    xres = width;
    yres = height;
    const float k = height > 0 ? static_cast<float>(width) / static_cast<float>(height) : 1.0f;
    left = -std::tan(angle / 2.0f) * focal;
    right = std::tan(angle / 2.0f) * focal;
    bottom = left / k;
    top = right / k;
    fov = fovX = fovY = angle;
    rotation = lookAtRotation(dir, up);
    affine = product(rotation, translation(-pos.x, -pos.y, -pos.z));
    projection = frustum(left, right, bottom, top, fl, clip_far);
    viewport = geometry::viewport(0, width, 0, height);
}

bool Camera::project(const Vector3& point, float& row, float& column, float& depth,
                     float& distance) const {
    const Vector3 d = point - pos;
    if (fl >= 0.0f) {
        depth = dot(d, dir);
        const float u = fl * dot(d, bi) / depth;
        const float v = fl * dot(d, up) / depth;
        column = (u / right + 1.0f) / 2.0f * static_cast<float>(xres);
        row = (v / top + 1.0f) / 2.0f * static_cast<float>(yres);
        distance = d.length();
        return std::fabs(u) <= right && std::fabs(v) <= top;
    }
    const float u = dot(d, bi);
    const float v = dot(d, up);
    const float z = dot(d, dir);
    if (!(std::fabs(u) <= right && std::fabs(v) <= top && z > 0.0f)) {
        return false;
    }
    depth = z;
    column = (u / right + 1.0f) / 2.0f * static_cast<float>(xres);
    row = (v / top + 1.0f) / 2.0f * static_cast<float>(yres);
    distance = d.length();
    return true;
}

namespace {

// Emits the dump one piece at a time through `emit`; withProduct adds the stream-only VP block.
template <typename Emit>
void dumpCamera(const Camera& c, bool withProduct, Emit emit) {
    const auto matrix = [&](const char* title, const Matrix4& m) {
        emit("-------------------\n");
        emit(title);
        emit("-------------------\n");
        for (int r = 0; r < 4; ++r) {
            for (int col = 0; col < 4; ++col) {
                emit(platform::formatString("%f ", m(r, col)));
            }
            emit("\n");
        }
    };
    matrix("     Viewport      \n", c.viewport);
    matrix("    Projection     \n", c.projection);
    matrix("      Affine       \n", c.affine);
    emit("-------------------\n");
    emit("      Frame        \n");
    emit("-------------------\n");
    emit(platform::formatString("pos: %f %f %f\n", c.pos.x, c.pos.y, c.pos.z));
    emit(platform::formatString("dir: %f %f %f\n", c.dir.x, c.dir.y, c.dir.z));
    emit(platform::formatString(" up: %f %f %f\n", c.up.x, c.up.y, c.up.z));
    emit(platform::formatString(" bi: %f %f %f\n", c.bi.x, c.bi.y, c.bi.z));
    if (withProduct) {
        matrix("        VP         \n", product(c.viewport, c.projection));
    }
    emit(platform::formatString("fl: %6.4f\n", c.fl));
    emit(platform::formatString("fov: %6.4f\n", c.fov));
    emit(platform::formatString("clip_near: %6.4f\n", c.clip_near));
    emit(platform::formatString("clip_far:  %6.4f\n", c.clip_far));
    emit(platform::formatString("xres,yres: %d %d\n", c.xres, c.yres));
}

}  // namespace

void Camera::dumpToFile(std::FILE* stream) const {
    dumpCamera(*this, true,
               [stream](const std::string& text) { std::fputs(text.c_str(), stream); });
}

void Camera::dumpToDebugOutput() const {
    dumpCamera(*this, false, [](const std::string& text) { platform::debugOutput(text); });
}

}  // namespace strata::geometry
