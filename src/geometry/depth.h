// Depth mappings between eye space and normalised device depth. n and f are the near and far
// distances; zEye is negative in front of the camera (callers pass -distance).
#pragma once

namespace strata::geometry {

// -1 at distance n, +1 at distance f.
inline float perspectiveDepth(float zEye, float n, float f) {
    return 2.0f * n * f / ((f - n) * zEye) + (n + f) / (f - n);
}

// Inverse of perspectiveDepth: returns zEye.
inline float perspectiveEye(float zNdc, float n, float f) {
    return 2.0f * n * f / ((f - n) * zNdc - (n + f));
}

inline float orthoDepth(float zEye, float n, float f) {
    return -2.0f * zEye / (f - n) - (f + n) / (f - n);
}

// Decoding of a 20-bit depth code: code * (2 / 1048575) - 1.
inline constexpr float kDepthCodeScale = 1.9073505e-6f;
inline float decodeDepth(unsigned code) {
    return static_cast<float>(code) * kDepthCodeScale - 1.0f;
}

}  // namespace strata::geometry
