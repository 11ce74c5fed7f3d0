#include "geometry/image_plane_frame.h"

#include <cstdio>

namespace strata::geometry {

void ImagePlaneFrame::build(const Vector3& position, const Vector3& direction,
                            const Vector3& upVector, const Vector3& biVector, float s, float t,
                            std::int32_t width, std::int32_t height) {
    build(position, direction, upVector, biVector, s, t, t, width, height);
}

void ImagePlaneFrame::build(const Vector3& position, const Vector3& direction,
                            const Vector3& upVector, const Vector3& biVector, float s, float tx,
                            float ty, std::int32_t width, std::int32_t height) {
    pos = position;
    dir = direction;
    up = upVector;
    bi = biVector;
    xres = width;
    yres = height;
    dirScale = upScale = biScale = s;
    reserved = 0;
    const Vector3 n = s * dir;
    const Vector3 b = (s * tx) * bi;
    const Vector3 d = -(s * ty) * up;
    cornerRay = n - b + d;
    origin = pos + cornerRay;
    delBi = xres > 0 ? b * (2.0f / static_cast<float>(xres)) : Vector3{};
    delUp = yres > 0 ? -d * (2.0f / static_cast<float>(yres)) : Vector3{};
    halfBi = delBi * 0.5f;
    halfUp = delUp * 0.5f;
}

void ImagePlaneFrame::centreOnPixels() {
    const Vector3 half = halfBi + halfUp;
    origin.add(half);
    cornerRay.add(half);
}

void ImagePlaneFrame::dump(std::FILE* out) const {
    const Vector3 nm = dir * dirScale;
    const Vector3 b = bi * biScale;
    const Vector3 dn = -up * upScale;
    std::fprintf(out, "---------------------------------\n");
    std::fprintf(out, "nm: %f %f %f\n", nm.x, nm.y, nm.z);
    std::fprintf(out, "bi: %f %f %f\n", b.x, b.y, b.z);
    std::fprintf(out, "dn: %f %f %f\n", dn.x, dn.y, dn.z);
    std::fprintf(out, " o: %f %f %f\n", origin.x, origin.y, origin.z);
    std::fprintf(out, "delup: %f %f %f\n", delUp.x, delUp.y, delUp.z);
    std::fprintf(out, "delbi: %f %f %f\n", delBi.x, delBi.y, delBi.z);
    std::fprintf(out, "---------------------------------\n");
}

}  // namespace strata::geometry
