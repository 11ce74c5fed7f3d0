#include "geometry/quantise.h"

#include <bit>
#include <cmath>

#include "geometry/normal_table.h"

namespace strata::geometry {

int clampByte(float x) {
    // Limit in floating point before converting, so huge values and NaN stay defined.
    if (!(x > 0.0f)) {
        return 0;
    }
    if (x >= 255.0f) {
        return 255;
    }
    return static_cast<int>(x);
}

std::uint32_t packColour(float r, float g, float b, float a) {
    return static_cast<std::uint32_t>(clampByte(a * 255.0f)) << 24 |
           static_cast<std::uint32_t>(clampByte(r * 255.0f)) << 16 |
           static_cast<std::uint32_t>(clampByte(g * 255.0f)) << 8 |
           static_cast<std::uint32_t>(clampByte(b * 255.0f));
}

std::uint32_t packColourMean(float r, float g, float b, float a, float n) {
    return packColour(r / n, g / n, b / n, a / n);
}

int nearestNormal(const Vector3& v) {
    const auto table = normalTable();
    int best = 0;
    float bestDot = dot(v, table[0]);
    for (int i = 1; i < static_cast<int>(table.size()); ++i) {
        const float d = dot(v, table[static_cast<std::size_t>(i)]);
        if (d > bestDot) {
            bestDot = d;
            best = i;
        }
    }
    return best;
}

int sizeClass(float x, std::span<const float> t, int count) {
    int result = count - 1;
    for (int i = 1; i <= count && i < static_cast<int>(t.size()); ++i) {
        if (x < t[static_cast<std::size_t>(i)]) {
            result = i - 1;
            break;
        }
    }
    return result < 0 ? 0 : result;
}

std::uint32_t packDepthWord(std::uint32_t code, int sizeClassIndex, int normalIndex) {
    const auto cls = static_cast<std::uint32_t>(
        sizeClassIndex < 0 ? 0 : (sizeClassIndex > 31 ? 31 : sizeClassIndex));
    const auto normal =
        static_cast<std::uint32_t>(normalIndex < 0 ? 0 : (normalIndex > 63 ? 63 : normalIndex));
    return (code & 0xFFFFFu) | ((cls | normal << 5) << 20);
}

std::uint32_t depthCode(float zNdc) {
    const float scaled = (zNdc + 1.0f) * 524287.5f;
    if (!(scaled > 0.0f)) {
        return 0;
    }
    if (scaled >= 1048575.0f) {
        return 0xFFFFF;
    }
    return static_cast<std::uint32_t>(scaled) & 0xFFFFF;
}

int countBits(int mode, std::uint32_t mask) {
    if (mode == 0) {
        return std::popcount(mask & 0xFFFFu);
    }
    if (mode == 1) {
        return std::popcount(mask & 0xF0000u);
    }
    return 0;
}

}  // namespace strata::geometry
