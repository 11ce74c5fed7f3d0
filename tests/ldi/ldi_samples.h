// Small valid LDIs of every kind, made from a seed: consistent index arrays, pseudo-random
// pixels and distinctive values in every header field, so round trips and corruption tests have
// something real to work on. Also used to seed the fuzzer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "geometry/view_camera.h"
#include "ldi/ldi_base.h"

namespace strata::ldi::testing {

// The seven single-file kinds and the quad, as (ldiType, dptType) pairs.
struct SampleKind {
    int ldiType;
    int dptType;
    const char* name;  // "RT_CP", ...; also the file stem
};
const std::vector<SampleKind>& allSampleKinds();

// A loaded-equivalent LDI of the given kind and grid (maxLayers layers per pixel at most).
std::unique_ptr<LdiBase> makeSample(int ldiType, int dptType, std::int32_t width,
                                    std::int32_t height, std::uint32_t seed, int maxLayers = 3);

// Frames two samples of one reference camera as the halves of a quad: the bottom half's window
// takes the lower bottom.height() rows of a grid of top.height() + bottom.height() rows, the top
// half's the rest (both keep their eye, direction and depth range, which samples share).
void frameAsQuadHalves(LdiBase& top, LdiBase& bottom);

// A usable reference view: the eye at (0, 0, 5) looking down -z with +y up, near 1, far 100, a
// 90-degree square frustum and a viewport onto width x height pixels. putUsableView puts it into
// the bytes of a hand-laid header (12988 bytes or more).
geometry::ViewCamera usableView(std::int32_t width, std::int32_t height);
void putUsableView(std::vector<std::uint8_t>& header, std::int32_t width, std::int32_t height);

// A fresh empty directory under the system temp folder, removed by the destructor.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

std::vector<std::uint8_t> readBytes(const std::string& path);
void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
void writeText(const std::string& path, const std::string& text);

// Hand-made little-endian byte building for expected layouts.
void appendU32(std::vector<std::uint8_t>& out, std::uint32_t v);
void appendU16(std::vector<std::uint8_t>& out, std::uint16_t v);
std::uint32_t u32At(const std::vector<std::uint8_t>& bytes, std::size_t offset);

}  // namespace strata::ldi::testing
