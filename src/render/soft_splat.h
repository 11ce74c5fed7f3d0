// Soft depth-tested splatting: every pixel of a frame keeps the depth of the nearest surface
// drawn into it and a weighted sum of that surface's colours. A footprint pixel whose depth lies
// within the sample's tolerance of the stored depth belongs to the same surface and adds to the
// sum; a clearly nearer one starts the pixel afresh; a clearly farther one is dropped. One
// surface behind the nearest is kept too, for pixels where the nearest surface turns out to be
// only the edge of a footprint (just outside its silhouette). The weights follow the blended
// footprints (new 16, half 3, quarter 1: a sample keeps half of its own pixel against its eight
// neighbours). A surface's weight and its three channel sums are packed 17 bits apart into one
// 64-bit word, so a write is one multiply-add and a pixel is 24 bytes.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <limits>
#include <vector>

namespace strata::render {

inline constexpr std::uint32_t kWeightNew = 16;     // the footprint's centre pixels
inline constexpr std::uint32_t kWeightHalf = 3;     // its half-blended pixels
inline constexpr std::uint32_t kWeightQuarter = 1;  // its corners
// A pixel with at least this weight shows its surface; lighter ones are footprint edges only. On
// a surface, neighbouring samples' tents add up to kWeightNew; past the last sample of a
// silhouette the weight falls to this half-way to the next one, where the edge lies on
// average, so silhouettes neither grow nor shrink.
inline constexpr std::uint32_t kCoveredWeight = 8;
// Sums stop growing here; 255 x (kMaxWeight + 15) still fits the 17 bits of a channel sum.
inline constexpr std::uint32_t kMaxWeight = 496;
inline constexpr int kWeightShift = 51;  // weight << 51 | red << 34 | green << 17 | blue
inline constexpr float kNoDepth = std::numeric_limits<float>::infinity();

// The top bit of a packed sum marks a surface drawn only by hidden samples: ones that lie
// behind another surface along their ray from the LDI's own camera.
inline constexpr std::uint64_t kHiddenSurface = std::uint64_t{1} << 63;

inline std::uint32_t weightOf(std::uint64_t sum) {
    return static_cast<std::uint32_t>((sum & ~kHiddenSurface) >> kWeightShift);
}

struct SoftPixel {
    float depth = kNoDepth;  // output depth -1/distance of the pixel's surface; smaller is nearer
    float behindDepth = kNoDepth;  // the nearest surface behind that one, kept the same way
    std::uint64_t sum = 0;         // weight and colour sums of the surface, packed
    std::uint64_t behindSum = 0;

    std::uint32_t weight() const { return weightOf(sum); }
    std::uint32_t behindWeight() const { return weightOf(behindSum); }
};

// The mean colour of a packed sum with the alpha byte set. Precondition: its weight is > 0.
std::uint32_t meanColour(std::uint64_t sum);

// The buffer is cut into square tiles of this side. Writers mark the tiles they write, and the
// resolve works on the marked ones alone: the rest of the frame keeps its background. A tile is
// wider than any gap the resolve fills and holds whole cells of its gap fill's pyramid.
inline constexpr int kSoftTileShift = 4;
inline constexpr std::int32_t kSoftTile = std::int32_t{1} << kSoftTileShift;

// What the resolve keeps between frames, so it allocates nothing once the size is steady.
struct SoftResolveScratch {
    std::int32_t width = 0;  // the size the per-pixel arrays below were made for
    std::int32_t height = 0;
    // The per-pixel arrays hold this resolve's values on the columns [spanBegin, spanEnd) of
    // every tile row, and the values of an empty pixel elsewhere.
    std::vector<std::int32_t> spanBegin;
    std::vector<std::int32_t> spanEnd;
    std::vector<std::int32_t> nextBegin;  // the spans of the resolve under way
    std::vector<std::int32_t> nextEnd;
    std::vector<float> depth;            // every pixel's nearest depth
    std::vector<float> solidDepth;       // the same for covered pixels, infinity elsewhere
    std::vector<std::uint8_t> state;     // covered, behind covered and gap round, by pixel
    std::vector<std::uint8_t> rowHoles;  // rows with an uncovered pixel
    std::vector<std::int32_t> lastSolid;
    std::vector<float> line;
    std::vector<float> cells;  // the gap fill's pyramid: red, green, blue, weight by cell
};

struct SoftSplatBuffer {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<SoftPixel> pixels;  // row-major, like the frame buffer it shadows
    bool written = false;           // set by whatever draws into the buffer
    // By tile, row-major: 1 where a write since the last resolve may have reached. Whatever
    // writes pixels marks their tiles (touch); threads drawing at once may mark the same tile.
    std::int32_t tilesWide = 0;
    std::int32_t tilesHigh = 0;
    std::vector<std::uint8_t> tiles;
    SoftResolveScratch scratch;

    // Marks the tiles of the pixels [x0, x1] x [y0, y1], which lie inside the buffer.
    void touch(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1) {
        for (std::int32_t ty = y0 >> kSoftTileShift; ty <= (y1 >> kSoftTileShift); ++ty) {
            std::uint8_t* row = tiles.data() + static_cast<std::intptr_t>(ty) * tilesWide;
            for (std::int32_t tx = x0 >> kSoftTileShift; tx <= (x1 >> kSoftTileShift); ++tx) {
                std::atomic_ref<std::uint8_t> mark(row[tx]);
                if (mark.load(std::memory_order_relaxed) == 0) {
                    mark.store(1, std::memory_order_relaxed);
                }
            }
        }
    }
    // Marks every tile: for pixels written by hand.
    void touchAll() { std::fill(tiles.begin(), tiles.end(), std::uint8_t{1}); }

    // Sizes the buffer to width x height with every pixel empty and clears `written`. The
    // resolve leaves the buffer empty, so a buffer of the same size that was resolved (or never
    // written) costs nothing here.
    void reset(std::int32_t w, std::int32_t h);
};

// A colour as a packed sum of weight 1.
inline std::uint64_t spreadColour(std::uint32_t colour) {
    return (std::uint64_t{1} << kWeightShift) |
           (static_cast<std::uint64_t>((colour >> 16) & 0xFFu) << 34) |
           (static_cast<std::uint64_t>((colour >> 8) & 0xFFu) << 17) | (colour & 0xFFu);
}

// One footprint pixel of a sample at depth z with tolerance tolerance; hidden is kHiddenSurface
// for a hidden sample, else 0.
[[gnu::always_inline]] inline void softWrite(SoftPixel& p, float z, float tolerance,
                                             std::uint32_t weight, std::uint64_t spread,
                                             std::uint64_t hidden = 0) {
    // A surface stays marked hidden while only hidden samples add to it.
    const std::uint64_t keep = hidden | ~kHiddenSurface;
    // A packed sum is below the limit exactly when its weight is.
    constexpr std::uint64_t kFull = std::uint64_t{kMaxWeight} << kWeightShift;
    const std::uint64_t add = spread * weight;
    const float depth = p.depth;
    if (z <= depth + tolerance) {
        // This surface or a clearly nearer one, which pushes the pixel's surface behind it
        // unless the one behind weighs more. Selects rather than branches: which of the two it
        // is changes from pixel to pixel.
        const std::uint64_t sum = p.sum;
        const bool nearer = z < depth - tolerance;
        const bool push = nearer && weightOf(sum) >= weightOf(p.behindSum);
        p.behindDepth = push ? depth : p.behindDepth;
        p.behindSum = push ? sum : p.behindSum;
        const std::uint64_t grown = (sum & ~kHiddenSurface) < kFull ? (sum + add) & keep : sum;
        p.sum = nearer ? add | hidden : grown;
        p.depth = std::min(depth, z);  // z when nearer: the tolerance is not negative
    } else if (z < p.behindDepth - tolerance) {
        p.behindDepth = z;
        p.behindSum = add | hidden;
    } else if (z <= p.behindDepth + tolerance && (p.behindSum & ~kHiddenSurface) < kFull) {
        p.behindSum = (p.behindSum + add) & keep;
        p.behindDepth = std::min(p.behindDepth, z);
    }
}

// Footprint weights by radius, rows and columns from -3 to 3; the patterns of the blended
// footprints with new, half and quarter mapped to their weights.
struct SoftFootprint {
    std::uint8_t weight[7][7];
};
extern const SoftFootprint kSoftFootprints[4];

// Writes a sample of colour at (x, y) of the buffer with the footprint of the given radius
// (0..3); hidden for a sample hidden from the LDI's camera. Precondition: the whole footprint
// lies inside the buffer.
inline void softSplat(SoftSplatBuffer& buffer, std::int32_t x, std::int32_t y, int radius,
                      std::uint32_t colour, float z, float tolerance, bool hidden = false) {
    const std::uint64_t flag = hidden ? kHiddenSurface : 0;
    const std::uint64_t spread = spreadColour(colour);
    SoftPixel* at = buffer.pixels.data() + static_cast<std::intptr_t>(y) * buffer.width + x;
    buffer.touch(x - radius, y - radius, x + radius, y + radius);
    if (radius == 0) {
        softWrite(*at, z, tolerance, kWeightNew, spread, flag);
        return;
    }
    if (radius == 1) {
        // The common footprint, its weights written out.
        SoftPixel* const up = at - buffer.width;
        SoftPixel* const down = at + buffer.width;
        softWrite(up[-1], z, tolerance, kWeightQuarter, spread, flag);
        softWrite(up[0], z, tolerance, kWeightHalf, spread, flag);
        softWrite(up[1], z, tolerance, kWeightQuarter, spread, flag);
        softWrite(at[-1], z, tolerance, kWeightHalf, spread, flag);
        softWrite(at[0], z, tolerance, kWeightNew, spread, flag);
        softWrite(at[1], z, tolerance, kWeightHalf, spread, flag);
        softWrite(down[-1], z, tolerance, kWeightQuarter, spread, flag);
        softWrite(down[0], z, tolerance, kWeightHalf, spread, flag);
        softWrite(down[1], z, tolerance, kWeightQuarter, spread, flag);
        return;
    }
    const SoftFootprint& f = kSoftFootprints[radius];
    for (int dy = -radius; dy <= radius; ++dy) {
        SoftPixel* row = at + static_cast<std::intptr_t>(dy) * buffer.width;
        const std::uint8_t* w = f.weight[dy + 3];
        for (int dx = -radius; dx <= radius; ++dx) {
            softWrite(row[dx], z, tolerance, w[dx + 3], spread, flag);
        }
    }
}

// Turns the buffer into pixels of frame (same size, already holding the background) and leaves
// the buffer empty for the next frame (`written` cleared); only the marked tiles are read, and
// the frame keeps its background elsewhere: every
// covered pixel takes its surface's mean colour (alpha byte set, as the kernels write it);
// uncovered pixels inside small gaps of a surface are filled by a pull-push pass over the
// covered ones; other uncovered pixels show the covered surface a footprint edge replaced, if
// any, or keep the background, so silhouettes stay sharp. A gap is a run of at most maxGap
// uncovered pixels along a row or a column with covered pixels at both ends; where a covered
// surface lies behind the pixel, the two ends must also be one surface (depths within
// kSameSurfaceDepth of each other, relative), else the pixel is the edge of the nearer one.
// maxGap is at most kSoftTile - 1 (larger is taken as that). Returns the number of pixels filled.
inline constexpr float kSameSurfaceDepth = 0.1f;
inline constexpr int kMaxFilledGap = 4;
std::int64_t resolveSoftSplats(SoftSplatBuffer& buffer, std::uint32_t* frame,
                               int maxGap = kMaxFilledGap);

}  // namespace strata::render
