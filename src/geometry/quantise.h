// Scalar quantisers that turn a full-precision depth sample into the compact depth-pixel words.
#pragma once

#include <cstdint>
#include <span>

#include "geometry/vector.h"

namespace strata::geometry {

// Truncates toward zero (whatever the rounding mode) and limits to 0..255. Values beyond the
// integer range and NaN are limited in floating point first (NaN gives 0).
int clampByte(float x);

// a8 r8 g8 b8 from channels nominally in 0..1.
std::uint32_t packColour(float r, float g, float b, float a);
// The same with every channel divided by n first (mean of n accumulated samples).
std::uint32_t packColourMean(float r, float g, float b, float a, float n);

// Index 0..63 of the normal-table entry with the largest dot product with v (strictly greater,
// so the lowest index wins ties). v is normalised by the caller.
int nearestNormal(const Vector3& v);

// With thresholds t[1..count]: the smallest i in 1..count with x < t[i], minus 1; count - 1 when
// x reaches every threshold; t[0] is not consulted. t must hold count + 1 entries.
int sizeClass(float x, std::span<const float> t, int count);

// The packed depth word of a quantised pixel: bits 0-19 the depth code, 20-24 the size class,
// 25-30 the normal index, bit 31 clear. The class is limited to 0..31 and the index to 0..63 so
// neither spills into its neighbour.
std::uint32_t packDepthWord(std::uint32_t code, int sizeClassIndex, int normalIndex);

// 20-bit depth code of a normalised depth: trunc((z + 1) * 524287.5), limited to 0..0xFFFFF.
std::uint32_t depthCode(float zNdc);

// Set bits of mask among bits 0..15 (mode 0) or 16..19 (mode 1); 0 for any other mode.
int countBits(int mode, std::uint32_t mask);

}  // namespace strata::geometry
