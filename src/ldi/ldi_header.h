// The LDI header record: 12988 bytes at offset 0 of every LDI file, little-endian, no padding.
// In memory the stored fields come first in file order, followed by the scanline culler's
// per-row depth ranges, which are built at load and never stored.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "geometry/camera.h"
#include "geometry/scanline_culler.h"
#include "geometry/vector.h"
#include "geometry/view_camera.h"
#include "platform/byte_io.h"

namespace strata::ldi {

// Generation statistics written by the producer; carried, never interpreted by the viewer.
struct LdiStats {
    std::int32_t rays = 0;
    std::int32_t hits = 0;
    std::int32_t hitsOutsideFrustum = 0;
    std::int32_t samples = 0;
    std::int32_t samplesBlended = 0;
    std::int32_t samplesUniqueDepth = 0;
    std::int32_t samplesUniqueNormal = 0;
    std::int32_t depthPixels = 0;
    std::int32_t loadMinutes = 0;
    std::int32_t loadSeconds = 0;
    std::int32_t sampleMinutes = 0;
    std::int32_t sampleSeconds = 0;
    std::int32_t writeMinutes = 0;
    std::int32_t writeSeconds = 0;
    float complexityMin = 0.0f;
    float complexityMax = 0.0f;
    float complexityMean = 0.0f;
    float complexityStdDev = 0.0f;
    float distanceMin = 10000000.0f;
    float distanceMax = 0.0f;
    float zMin = 10000000.0f;
    float zMax = 0.0f;

    static constexpr std::size_t kSize = 88;
    void serialize(platform::ByteWriter& out) const;
    void deserialize(platform::ByteReader& in);
};

struct LdiHeader {
    // Byte offsets of the stored fields.
    static constexpr std::size_t kOffsetVersion = 0;
    static constexpr std::size_t kOffsetLdiType = 4;
    static constexpr std::size_t kOffsetDptType = 8;
    static constexpr std::size_t kOffsetWidth = 12;
    static constexpr std::size_t kOffsetHeight = 16;
    static constexpr std::size_t kOffsetPixelCount = 20;
    static constexpr std::size_t kOffsetReserved = 24;
    static constexpr std::size_t kOffsetBinBits = 40;
    static constexpr std::size_t kOffsetStats = 44;
    static constexpr std::size_t kOffsetGeneratorFloat = 132;
    static constexpr std::size_t kOffsetGeneratorInt = 136;
    static constexpr std::size_t kOffsetBoundsMin = 140;
    static constexpr std::size_t kOffsetBoundsMax = 152;
    static constexpr std::size_t kOffsetView = 164;
    static constexpr std::size_t kOffsetCamera = 340;
    static constexpr std::size_t kOffsetBinCount = 692;
    static constexpr std::size_t kOffsetBins = 696;
    static constexpr std::size_t kOffsetExtra = 8892;
    static constexpr std::size_t kSize = 12988;

    static constexpr std::int32_t kStoredVersion = 255;
    static constexpr std::size_t kBinSlots = 2049;  // room for 2048 bins
    static constexpr std::size_t kExtraWords = 1024;

    std::int32_t version = 0;                // every writer stores 255; readers ignore it
    std::int32_t ldiType = 1;                // LdiType, "RT"
    std::int32_t dptType = 3;                // DptType, "CP"
    std::int32_t width = 0;                  // columns
    std::int32_t height = 0;                 // rows
    std::int32_t pixelCount = 0;             // depth pixels of a CP or QP body
    std::array<std::int32_t, 4> reserved{};  // generator words, carried
    std::int32_t binBits = 0;                // binFactor fills 2^binBits entries (0..10 used)
    LdiStats stats;
    float generatorFloat = 100000000.0f;  // generator data, carried and not interpreted
    std::int32_t generatorInt = 0;        // generator data, carried and not interpreted
    geometry::Vector3 boundsMin;          // the producer's bounding box of all samples
    geometry::Vector3 boundsMax;
    geometry::ViewCamera view;            // reference camera, compact form (in-memory field order)
    geometry::Camera camera;              // reference camera, full form
    std::int32_t binCount = 0;            // 0..2048
    std::array<float, kBinSlots> bins{};  // code i covers [bins[i], bins[i+1]]
    std::array<std::int32_t, kExtraWords> extra{};  // MRQP: words 0..3 are mrqpCounts

    // Not stored: per-row normalised depth ranges for scanline culling, built at load.
    geometry::ScanlineCuller culler;

    // MRQP element counts: depth pixels, 4x4 colours, 2x2 colours, full colours (extra[0..3]).
    std::span<std::int32_t, 4> mrqpCounts() { return std::span<std::int32_t, 4>(extra.data(), 4); }
    std::span<const std::int32_t, 4> mrqpCounts() const {
        return std::span<const std::int32_t, 4>(extra.data(), 4);
    }
    std::int32_t mrqpCount(int index) const { return extra[static_cast<std::size_t>(index & 3)]; }
    void setMrqpCount(int index, std::int32_t value) {
        extra[static_cast<std::size_t>(index & 3)] = value;
    }

    // Writes the 12988 stored bytes field block by field block; version is written as 255
    // whatever the record holds.
    void serialize(platform::ByteWriter& out) const;
    // Reads the 12988 stored bytes back the same way. Returns false (the record unchanged) when
    // the reader holds fewer than 12988 bytes.
    bool deserialize(platform::ByteReader& in);
    // The same two from a plain byte span of at least kSize bytes.
    bool deserialize(std::span<const std::uint8_t> bytes);
};

}  // namespace strata::ldi
