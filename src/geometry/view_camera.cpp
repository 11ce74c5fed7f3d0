#include "geometry/view_camera.h"

#include <cmath>

#include "geometry/record_io.h"
#include "platform/debug_output.h"

namespace strata::geometry {
namespace {

void putTail(platform::ByteWriter& out, const ViewCamera& c) {
    putVector(out, c.pos);
    putVector(out, c.dir);
    putVector(out, c.up);
    out.putF32(c.near);
    out.putF32(c.far);
    out.putF32(c.fov);
}

void getTail(platform::ByteReader& in, ViewCamera& c) {
    getVector(in, c.pos);
    getVector(in, c.dir);
    getVector(in, c.up);
    c.near = in.getF32();
    c.far = in.getF32();
    c.fov = in.getF32();
}

}  // namespace

int ViewCamera::read(std::FILE* file) {
    std::uint8_t bytes[kStoredSize];
    if (file == nullptr || std::fread(bytes, 1, kStoredSize, file) != kStoredSize) {
        return 0;
    }
    platform::ByteReader in(bytes);
    ViewCamera c;
    getMatrix(in, c.viewport);
    getMatrix(in, c.projection);
    getTail(in, c);
    *this = c;
    return 1;
}

int ViewCamera::write(std::FILE* file) const {
    platform::ByteWriter out;
    putMatrix(out, viewport);
    putMatrix(out, projection);
    putTail(out, *this);
    if (file == nullptr || std::fwrite(out.bytes().data(), 1, out.size(), file) != out.size()) {
        return 0;
    }
    return 1;
}

void ViewCamera::serializeInMemoryOrder(platform::ByteWriter& out) const {
    putMatrix(out, projection);
    putMatrix(out, viewport);
    putTail(out, *this);
}

void ViewCamera::deserializeInMemoryOrder(platform::ByteReader& in) {
    getMatrix(in, projection);
    getMatrix(in, viewport);
    getTail(in, *this);
}

Matrix4 ViewCamera::lookAtRotation() const {
    return geometry::lookAtRotation(dir, up);
}

Matrix4 ViewCamera::viewMatrix() const {
    return product(lookAtRotation(), translation(-pos.x, -pos.y, -pos.z));
}

Matrix4 ViewCamera::fullTransform() const {
    return product(product(viewport, projection), viewMatrix());
}

void ViewCamera::setSquareFrustum() {
    projection = frustum(-near, near, -near, near, near, far);
}

float ViewCamera::distanceTo(const ViewCamera& other) const {
    return (pos - other.pos).length();
}

namespace {
float cosineBetween(Vector3 a, Vector3 b) {
    a.normalize();
    b.normalize();
    return dot(a, b);
}
}  // namespace

float ViewCamera::facing1(const ViewCamera& other) const {
    const float c = cosineBetween(dir, other.dir);
    return c > 0.0f ? -c : 0.0f;
}

float ViewCamera::facing2(const ViewCamera& other) const {
    return -cosineBetween(dir, other.dir);
}

bool ViewCamera::projectPoint(const Vector3& p, int width, int height, float& row, float& column,
                              float& depthOut, float& distance) const {
    Vector3 s = cross(up, dir);
    s.normalize();
    const Vector3 v = p - pos;
    const float depth = dot(v, dir);
    const float a = dot(v, s);
    const float b = dot(v, up);
    // A point at or behind the eye plane is never in view (a zero depth would divide by zero).
    if (!(depth > 0.0f)) {
        return false;
    }
    if (!(depth >= std::fabs(a)) || !(depth >= std::fabs(b))) {
        return false;
    }
    column = (a / depth + 1.0f) * 0.5f * static_cast<float>(width);
    row = (b / depth + 1.0f) * 0.5f * static_cast<float>(height);
    depthOut = depth;
    distance = v.length();
    return true;
}

void ViewCamera::print() const {
    platform::debugPrintf("%6.4f %6f %6.2f\n", near, far, fov);
    platform::debugPrintf("%6.2f %6.2f %6.2f\n", pos.x, pos.y, pos.z);
    platform::debugPrintf("%6.2f %6.2f %6.2f\n", dir.x, dir.y, dir.z);
    platform::debugPrintf("%6.2f %6.2f %6.2f\n", up.x, up.y, up.z);
    const Matrix4 view = viewMatrix();
    for (int r = 0; r < 4; ++r) {
        const char* separator = r == 1 ? "  *  " : "     ";
        platform::debugPrintf(
            "%6.4f %6.4f %6.4f %6.4f%s%6.4f %6.4f %6.4f %6.4f%s%6.4f %6.4f %6.4f %6.4f\n",
            viewport(r, 0), viewport(r, 1), viewport(r, 2), viewport(r, 3), separator,
            projection(r, 0), projection(r, 1), projection(r, 2), projection(r, 3), separator,
            view(r, 0), view(r, 1), view(r, 2), view(r, 3));
    }
}

}  // namespace strata::geometry
