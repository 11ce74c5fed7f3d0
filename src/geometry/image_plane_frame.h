// The image-plane frame of a camera: the world point of pixel (0, 0) and the steps between
// neighbouring columns and rows, from which the viewing ray through any pixel follows by two
// multiply-adds.
#pragma once

#include <cstdint>
#include <cstdio>

#include "geometry/vector.h"

namespace strata::geometry {

struct ImagePlaneFrame {
    Vector3 origin;     // world point of pixel (0, 0) on the image plane
    Vector3 cornerRay;  // from the camera position to origin
    Vector3 delBi;      // step between neighbouring columns
    Vector3 delUp;      // step between neighbouring rows
    Vector3 halfBi;
    Vector3 halfUp;
    Vector3 pos;
    Vector3 dir;
    Vector3 up;
    Vector3 bi;
    std::int32_t xres = 0;
    std::int32_t yres = 0;
    std::int32_t reserved = 0;
    float dirScale = 1.0f;
    float upScale = 1.0f;
    float biScale = 1.0f;

    // t = tan(fov / 2) of the camera, bi = normalize(dir x up), s the scale of the frame. A
    // width or height below 1 gives zero steps on that axis (no image, no division by zero).
    void build(const Vector3& position, const Vector3& direction, const Vector3& upVector,
               const Vector3& biVector, float s, float t, std::int32_t width, std::int32_t height);
    // The same with tx = tan of half the horizontal and ty of half the vertical view angle.
    void build(const Vector3& position, const Vector3& direction, const Vector3& upVector,
               const Vector3& biVector, float s, float tx, float ty, std::int32_t width,
               std::int32_t height);
    // Moves origin and cornerRay by half a pixel on both axes, onto the centre of pixel (0, 0).
    void centreOnPixels();
    Vector3 pixelRay(float row, float column) const {
        return cornerRay + row * delUp + column * delBi;
    }
    // Text dump to the standard output stream (or another stream).
    void dump(std::FILE* out = stdout) const;
};

}  // namespace strata::geometry
