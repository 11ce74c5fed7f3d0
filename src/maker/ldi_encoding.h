// Turning layered sample lists into LDI objects: the depth bins of each pixel encoding, the
// packed pixel words, the layer index arrays, and the header (reference camera, bins, bounds and
// statistics). CP stores an 8-bit code of the normalised depth; QP and MRQP a 20-bit depth code,
// a size class of the eye depth and the nearest table normal.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ldi/ldi_base.h"
#include "ldi/ldi_rt_qp.h"
#include "maker/layered_image.h"
#include "maker/maker_kind.h"

namespace strata::maker {

inline constexpr int kCpBinCount = 256;
// Most entries one row of an index level can hold (its offsets are 16-bit, read as signed).
inline constexpr std::int64_t kMaxRowEntries = 32767;
// Most colours of the finest MRQP level one depth pixel can carry (one per 4x4 sub-sample).
inline constexpr std::int64_t kMaxColoursPerMrqpPixel = 16;
inline constexpr int kSizeClassCount = 32;

// CP bins over normalised depth + 1: uniform on [0, 2], bins[i] = 2 i / 256, i = 0..256.
std::array<float, kCpBinCount + 1> cpDepthBins();
// QP/MRQP size-class bins over eye depth, geometric with ratio r = (far / near)^(1/31): bins[i] =
// near * r^(i - 1), i = 0..32, so bins[1] = near and bins[32] = far.
std::array<float, kSizeClassCount + 1> sizeClassBins(float near, float far);
// The size class of an eye depth: the largest i whose bin middle (bins[i] + bins[i+1]) / 2 (the
// class's binValue after loading) is at most the depth (0 below the first middle). So binValue
// is within one class ratio below the sample's depth, and a sample seen from its own camera
// splats to just under one pixel.
int sizeClassOf(float depth, const std::array<float, kSizeClassCount + 1>& bins);

// The CP word: colour in bits 0-23, sizeClass(zNdc + 1, bins, 256) in bits 24-31.
std::uint32_t cpPixelWord(std::uint32_t colour, float zNdc,
                          const std::array<float, kCpBinCount + 1>& bins);
// The QP/MRQP depth word of a sample seen from a camera with the given near and far.
std::uint32_t depthWordOf(const LayerSample& sample, float near, float far,
                          const std::array<float, kSizeClassCount + 1>& bins);

// Rows [row0, row0 + rows) of a layered image with their reference camera: the whole grid, or
// one half of a quad.
struct EncodeRegion {
    std::int32_t row0 = 0;
    std::int32_t rows = -1;  // -1: every row from row0
};

// Builds an LDI object of the (ldiType, pixel) kind (ldiType RT or RTFF) from the region, with
// its header complete. Returns none (error set) when a row holds more depth pixels or colours
// than the 16-bit layer offsets can index, or the object refuses the sizes.
std::unique_ptr<ldi::LdiBase> encodeLdi(const LayeredImage& image, ldi::LdiType ldiType,
                                        PixelKind pixel, std::string& error,
                                        EncodeRegion region = {});

// A quad: the bottom half (rows 0 .. H/2 - 1) and the top half (rows H/2 .. H - 1), each an RT/QP
// LDI whose reference camera frames exactly its rows (an off-centre window of the full view).
std::unique_ptr<ldi::LdiBase> encodeQuad(const LayeredImage& image, std::string& error);

}  // namespace strata::maker
