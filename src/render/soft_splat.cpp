#include "render/soft_splat.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

#include "platform/worker_pool.h"

namespace strata::render {
namespace {

constexpr std::uint8_t N = kWeightNew;
constexpr std::uint8_t H = kWeightHalf;
constexpr std::uint8_t Q = kWeightQuarter;

// 1 / weight for every weight a pixel can hold, so resolving costs no division.
constexpr std::array<float, kMaxWeight + kWeightNew + 1> kReciprocals = [] {
    std::array<float, kMaxWeight + kWeightNew + 1> t{};
    for (std::size_t i = 1; i < t.size(); ++i) {
        t[i] = 1.0f / static_cast<float>(i);
    }
    return t;
}();

inline std::uint32_t mean(std::uint64_t sum) {
    const float inv = kReciprocals[std::min<std::uint32_t>(weightOf(sum), kMaxWeight + kWeightNew)];
    const auto r =
        static_cast<std::uint32_t>(static_cast<float>((sum >> 34) & 0x1FFFFu) * inv + 0.5f);
    const auto g =
        static_cast<std::uint32_t>(static_cast<float>((sum >> 17) & 0x1FFFFu) * inv + 0.5f);
    const auto b = static_cast<std::uint32_t>(static_cast<float>(sum & 0x1FFFFu) * inv + 0.5f);
    return 0xFF000000u | (std::min(r, 255u) << 16) | (std::min(g, 255u) << 8) | std::min(b, 255u);
}

}  // namespace

std::uint32_t meanColour(std::uint64_t sum) {
    return mean(sum);
}

namespace {

bool sameSurface(float a, float b) {
    return std::fabs(a - b) <= kSameSurfaceDepth * std::max(std::fabs(a), std::fabs(b));
}

// a belongs to a surface clearly nearer than depth: nearer by more than kCrackDepth of its
// own depth, a step a single surface never makes within a few pixels on both sides of a pixel
// (though the floor under an object may lie within kSameSurfaceDepth of it). Depths are
// negative, so among the values within reach the smallest decides: if any is clearly nearer,
// the smallest is.
constexpr float kCrackDepth = 0.04f;

bool clearlyNearer(float a, float depth) {
    return a < depth && depth - a > kCrackDepth * std::fabs(a);
}

// Pixel states of the resolve.
constexpr std::uint8_t kCovered = 1;
constexpr std::uint8_t kBehindCovered = 2;
constexpr std::uint8_t kHiddenFront = 16;  // a covered surface drawn only by hidden samples
constexpr int kRoundShift = 2;  // bits 2-3: the gap round (1 or 2) that filled the pixel, or 0

std::uint8_t gapRound(std::uint8_t state) {
    return static_cast<std::uint8_t>((state >> kRoundShift) & 3u);
}

// The gap fill's image pyramid. A cell of level k covers 2^k x 2^k pixels; level 1 is the mean
// of its covered pixels, each higher level the mean of its non-empty children. A gap pixel takes
// its level-1 cell, or when that is empty the first non-empty cell above it up to kFillLevels:
// the push half of a pull-push pass, read at the gaps alone.
constexpr int kFillLevels = 3;

struct FillPyramid {
    std::int32_t widths[kFillLevels + 1] = {};
    std::int32_t heights[kFillLevels + 1] = {};
    std::size_t offsets[kFillLevels + 1] = {};  // first float of each level in cells
    float* cells = nullptr;

    float* cell(int level, std::int32_t x, std::int32_t y) const {
        return cells + offsets[level] +
               4 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(widths[level]) +
                    static_cast<std::size_t>(x));
    }

    // Sizes the levels for a w x h frame, cells in storage.
    void layout(std::int32_t w, std::int32_t h, std::vector<float>& storage) {
        widths[0] = w;
        heights[0] = h;
        std::size_t size = 0;
        for (int k = 1; k <= kFillLevels; ++k) {
            widths[k] = (widths[k - 1] + 1) / 2;
            heights[k] = (heights[k - 1] + 1) / 2;
            offsets[k] = size;
            size += 4 * static_cast<std::size_t>(widths[k]) * static_cast<std::size_t>(heights[k]);
        }
        storage.resize(size);
        cells = storage.data();
    }

    // Pulls every level's cells over the columns [x0, x1) of tile row ty from the covered pixels
    // of frame. A tile holds whole cells of every level, so the cells over a tile row's pixels
    // come from those pixels alone.
    void buildTileRow(const std::uint32_t* frame, const std::uint8_t* state, std::int32_t ty,
                      std::int32_t x0, std::int32_t x1) const {
        static_assert(kSoftTile % (1 << kFillLevels) == 0);
        const std::int32_t w = widths[0];
        const std::int32_t h = heights[0];
        for (int k = 1; k <= kFillLevels; ++k) {
            const std::int32_t cy0 = (ty * kSoftTile) >> k;
            const std::int32_t cy1 = std::min(((ty + 1) * kSoftTile) >> k, heights[k]);
            const std::int32_t cx0 = x0 >> k;
            const std::int32_t cx1 = std::min((x1 + (1 << k) - 1) >> k, widths[k]);
            for (std::int32_t cy = cy0; cy < cy1; ++cy) {
                for (std::int32_t cx = cx0; cx < cx1; ++cx) {
                    float sum[4] = {};
                    if (k == 1) {
                        for (std::int32_t y = 2 * cy; y < std::min(2 * cy + 2, h); ++y) {
                            for (std::int32_t x = 2 * cx; x < std::min(2 * cx + 2, w); ++x) {
                                const std::size_t i = static_cast<std::size_t>(y) * w + x;
                                if ((state[i] & kCovered) != 0) {
                                    sum[0] += static_cast<float>((frame[i] >> 16) & 0xFFu);
                                    sum[1] += static_cast<float>((frame[i] >> 8) & 0xFFu);
                                    sum[2] += static_cast<float>(frame[i] & 0xFFu);
                                    sum[3] += 1.0f;
                                }
                            }
                        }
                    } else {
                        for (std::int32_t y = 2 * cy; y < std::min(2 * cy + 2, heights[k - 1]);
                             ++y) {
                            for (std::int32_t x = 2 * cx; x < std::min(2 * cx + 2, widths[k - 1]);
                                 ++x) {
                                const float* c = cell(k - 1, x, y);
                                if (c[3] > 0.0f) {
                                    sum[0] += c[0];
                                    sum[1] += c[1];
                                    sum[2] += c[2];
                                    sum[3] += 1.0f;
                                }
                            }
                        }
                    }
                    store(cell(k, cx, cy), sum);
                }
            }
        }
    }

    static void store(float* out, const float* sum) {
        if (sum[3] > 0.0f) {
            const float inv = 1.0f / sum[3];
            out[0] = sum[0] * inv;
            out[1] = sum[1] * inv;
            out[2] = sum[2] * inv;
            out[3] = 1.0f;
        } else {
            out[0] = out[1] = out[2] = out[3] = 0.0f;
        }
    }

    // The colour of the first non-empty cell over pixel (x, y), if any.
    bool fill(std::int32_t x, std::int32_t y, std::uint32_t& colour) const {
        for (int level = 1; level <= kFillLevels; ++level) {
            const float* c = cell(level, x >> level, y >> level);
            if (c[3] > 0.0f) {
                auto channel = [](float v) {
                    return static_cast<std::uint32_t>(std::clamp(v + 0.5f, 0.0f, 255.0f));
                };
                colour = 0xFF000000u | (channel(c[0]) << 16) | (channel(c[1]) << 8) | channel(c[2]);
                return true;
            }
        }
        return false;
    }
};

}  // namespace

const SoftFootprint kSoftFootprints[4] = {
    {{{0, 0, 0, 0, 0, 0, 0},
      {0, 0, 0, 0, 0, 0, 0},
      {0, 0, 0, 0, 0, 0, 0},
      {0, 0, 0, N, 0, 0, 0},
      {0, 0, 0, 0, 0, 0, 0},
      {0, 0, 0, 0, 0, 0, 0},
      {0, 0, 0, 0, 0, 0, 0}}},
    {{{0, 0, 0, 0, 0, 0, 0},
      {0, 0, 0, 0, 0, 0, 0},
      {0, 0, Q, H, Q, 0, 0},
      {0, 0, H, N, H, 0, 0},
      {0, 0, Q, H, Q, 0, 0},
      {0, 0, 0, 0, 0, 0, 0},
      {0, 0, 0, 0, 0, 0, 0}}},
    {{{0, 0, 0, 0, 0, 0, 0},
      {0, Q, H, H, H, Q, 0},
      {0, H, H, N, H, H, 0},
      {0, H, N, N, N, H, 0},
      {0, H, H, N, H, H, 0},
      {0, Q, H, H, H, Q, 0},
      {0, 0, 0, 0, 0, 0, 0}}},
    {{{Q, H, H, H, H, H, Q},
      {H, H, H, N, H, H, H},
      {H, H, N, N, N, H, H},
      {H, N, N, N, N, N, H},
      {H, H, N, N, N, H, H},
      {H, H, H, N, H, H, H},
      {Q, H, H, H, H, H, Q}}},
};

void SoftSplatBuffer::reset(std::int32_t w, std::int32_t h) {
    const std::int32_t newWidth = std::max(w, 0);
    const std::int32_t newHeight = std::max(h, 0);
    const std::size_t count =
        static_cast<std::size_t>(newWidth) * static_cast<std::size_t>(newHeight);
    if (written || newWidth != width || newHeight != height || pixels.size() != count) {
        pixels.assign(count, SoftPixel{});
        tilesWide = (newWidth + kSoftTile - 1) >> kSoftTileShift;
        tilesHigh = (newHeight + kSoftTile - 1) >> kSoftTileShift;
        tiles.assign(static_cast<std::size_t>(tilesWide) * static_cast<std::size_t>(tilesHigh),
                     std::uint8_t{0});
    }
    width = newWidth;
    height = newHeight;
    written = false;
}

namespace {

// Runs body(t0, t1, part) for the items [0, n) cut into parts ranges, one range per part, on the
// drawing pool: tile rows, or columns. The passes that run this way read other ranges only where
// no range writes.
template <class Body>
void forParts(std::int32_t n, int parts, Body&& body) {
    platform::drawPool().run(parts, [&](int part) {
        const auto t0 = static_cast<std::int32_t>(std::int64_t{n} * part / parts);
        const auto t1 = static_cast<std::int32_t>(std::int64_t{n} * (part + 1) / parts);
        body(t0, t1, part);
    });
}

}  // namespace

std::int64_t resolveSoftSplats(SoftSplatBuffer& buffer, std::uint32_t* frame, int maxGap) {
    const std::int32_t w = buffer.width;
    const std::int32_t h = buffer.height;
    const std::size_t count = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    const std::int32_t tilesWide = buffer.tilesWide;
    const std::int32_t tilesHigh = buffer.tilesHigh;
    if (count == 0 || frame == nullptr || buffer.pixels.size() != count ||
        tilesWide != (w + kSoftTile - 1) >> kSoftTileShift ||
        tilesHigh != (h + kSoftTile - 1) >> kSoftTileShift ||
        buffer.tiles.size() != static_cast<std::size_t>(tilesWide) * tilesHigh) {
        return 0;
    }
    SoftResolveScratch& s = buffer.scratch;
    const auto tileRows = static_cast<std::size_t>(tilesHigh);
    if (s.width != w || s.height != h) {
        s.depth.assign(count, kNoDepth);
        s.solidDepth.assign(count, kNoDepth);
        s.state.assign(count, 0);
        s.spanBegin.assign(tileRows, 0);
        s.spanEnd.assign(tileRows, 0);
        s.width = w;
        s.height = h;
    }
    s.rowHoles.resize(static_cast<std::size_t>(h));
    s.nextBegin.resize(tileRows);
    s.nextEnd.resize(tileRows);
    float* const depth = s.depth.data();
    float* const solidDepth = s.solidDepth.data();
    std::uint8_t* const state = s.state.data();
    std::uint8_t* const rowHoles = s.rowHoles.data();
    auto at = [w](std::int32_t x, std::int32_t y) {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(w) +
               static_cast<std::size_t>(x);
    };

    // This frame's span on each tile row: the columns from its first marked tile to the end of
    // its last. Pixels outside the spans were never written: they keep the background and take
    // no part in the gap passes (a gap is shorter than a tile, so it never crosses an unwritten
    // tile), and the arrays above hold empty values there.
    std::int64_t area = 0;
    for (std::int32_t ty = 0; ty < tilesHigh; ++ty) {
        const std::uint8_t* marks = buffer.tiles.data() + static_cast<std::size_t>(ty) *
                                                              static_cast<std::size_t>(tilesWide);
        std::int32_t first = 0;
        while (first < tilesWide && marks[first] == 0) {
            ++first;
        }
        std::int32_t last = tilesWide;
        while (last > first && marks[last - 1] == 0) {
            --last;
        }
        const std::int32_t begin = std::min(first * kSoftTile, w);
        const std::int32_t end = std::min(last * kSoftTile, w);
        s.nextBegin[static_cast<std::size_t>(ty)] = begin;
        s.nextEnd[static_cast<std::size_t>(ty)] = end;
        area += std::int64_t{end - begin} * std::min(kSoftTile, h - ty * kSoftTile);
    }
    const std::int32_t* const spanBegin = s.nextBegin.data();
    const std::int32_t* const spanEnd = s.nextEnd.data();
    auto span = [&](std::int32_t y) {
        const auto ty = static_cast<std::size_t>(y >> kSoftTileShift);
        return std::pair{spanBegin[ty], spanEnd[ty]};
    };

    // Passes that keep to their own rows run in bands of tile rows on every drawing thread; a
    // small frame stays on one.
    const int parts =
        area >= 65536 ? std::max(1, std::min(platform::frameThreads(), static_cast<int>(tilesHigh)))
                      : 1;
    auto forBands = [&](auto&& body) {
        forParts(tilesHigh, parts, [&](std::int32_t ty0, std::int32_t ty1, int part) {
            body(ty0 * kSoftTile, std::min(ty1 * kSoftTile, h), part);
        });
    };

    // Covered pixels take their surface's colour; outside the gaps found below, a footprint's
    // edge does not hide the covered surface it replaced. The buffer is emptied on the way, and
    // rows without an uncovered pixel are noted: the gap passes skip them. The last resolve's
    // values outside this one's spans are emptied first.
    SoftPixel* const pixels = buffer.pixels.data();
    forParts(tilesHigh, parts, [&](std::int32_t ty0, std::int32_t ty1, int) {
        for (std::int32_t ty = ty0; ty < ty1; ++ty) {
            const auto t = static_cast<std::size_t>(ty);
            const std::int32_t begin = spanBegin[t];
            const std::int32_t end = spanEnd[t];
            const std::int32_t oldBegin = s.spanBegin[t];
            const std::int32_t oldEnd = s.spanEnd[t];
            const std::int32_t y0 = ty * kSoftTile;
            const std::int32_t y1 = std::min(y0 + kSoftTile, h);
            for (std::int32_t y = y0; y < y1; ++y) {
                auto empty = [&](std::int32_t from, std::int32_t to) {
                    if (from < to) {
                        std::fill(depth + at(from, y), depth + at(to, y), kNoDepth);
                        std::fill(solidDepth + at(from, y), solidDepth + at(to, y), kNoDepth);
                        std::fill(state + at(from, y), state + at(to, y), std::uint8_t{0});
                    }
                };
                if (begin >= end) {
                    empty(oldBegin, oldEnd);
                } else {
                    empty(oldBegin, std::min(oldEnd, begin));
                    empty(std::max(oldBegin, end), oldEnd);
                }
                std::uint8_t holes = begin > 0 || end < w ? 1 : 0;
                for (std::size_t i = at(begin, y), stop = at(end, y); i < stop; ++i) {
                    SoftPixel& p = pixels[i];
                    depth[i] = p.depth;
                    if (p.weight() >= kCoveredWeight) {
                        state[i] =
                            (p.sum & kHiddenSurface) != 0 ? kCovered | kHiddenFront : kCovered;
                        solidDepth[i] = p.depth;
                        frame[i] = mean(p.sum);
                    } else {
                        holes = 1;
                        solidDepth[i] = kNoDepth;
                        state[i] = 0;
                        if (p.behindWeight() >= kCoveredWeight) {
                            state[i] = kBehindCovered;
                            frame[i] = mean(p.behindSum);
                        }
                    }
                    p = SoftPixel{};
                }
                rowHoles[y] = holes;
            }
            s.spanBegin[t] = begin;
            s.spanEnd[t] = end;
            std::fill_n(buffer.tiles.data() + t * static_cast<std::size_t>(tilesWide), tilesWide,
                        std::uint8_t{0});
        }
    });
    buffer.written = false;

    // A gap never reaches across a tile.
    const std::int32_t limit = std::clamp(maxGap, 0, kSoftTile - 1);
    const std::int32_t reach = limit + 1;
    // Each band counts the gaps it finds.
    std::vector<std::int64_t> bandGaps(static_cast<std::size_t>(parts), 0);
    // Cracks: covered pixels showing a surface clearly behind the one covering both sides of
    // them within the limit, along a row or a column: a hidden surface seen through the gaps
    // between a nearer surface's footprints. They are gaps of the nearer surface. Rows first;
    // the columns see the rows' cracks as uncovered. The nearest depth within reach on each side
    // decides: depths are negative, so if any is clearly nearer, the smallest is.
    auto isCrack = [](float before, float d, float after) {
        return clearlyNearer(before, d) && clearlyNearer(after, d) && sameSurface(before, after);
    };
    auto markCrack = [&](std::size_t i, std::int32_t y, int part) {
        state[i] = static_cast<std::uint8_t>((state[i] & ~kCovered) | (1 << kRoundShift));
        rowHoles[y] = 1;
        ++bandGaps[static_cast<std::size_t>(part)];
    };
    const auto wide = static_cast<std::size_t>(w);
    // Per band: before, after and a row with reach empty pixels each side.
    const std::size_t lineSize = 3 * wide + 2 * static_cast<std::size_t>(reach);
    s.line.resize(lineSize * static_cast<std::size_t>(parts));
    forBands([&](std::int32_t y0, std::int32_t y1, int part) {
        float* const before = s.line.data() + lineSize * static_cast<std::size_t>(part);
        float* const after = before + wide;
        float* const padded = after + wide + reach;
        for (std::int32_t y = y0; y < y1; ++y) {
            const auto [begin, end] = span(y);
            if (begin >= end) {
                continue;
            }
            std::fill(padded + begin - reach, padded + begin, kNoDepth);
            std::copy(solidDepth + at(begin, y), solidDepth + at(end, y), padded + begin);
            std::fill(padded + end, padded + end + reach, kNoDepth);
            std::fill(before + begin, before + end, kNoDepth);
            std::fill(after + begin, after + end, kNoDepth);
            for (std::int32_t k = 1; k <= reach; ++k) {
                for (std::int32_t x = begin; x < end; ++x) {
                    before[x] = std::min(before[x], padded[x - k]);
                    after[x] = std::min(after[x], padded[x + k]);
                }
            }
            for (std::int32_t x = begin; x < end; ++x) {
                if (padded[x] != kNoDepth && isCrack(before[x], padded[x], after[x])) {
                    markCrack(at(x, y), y, part);
                    solidDepth[at(x, y)] = kNoDepth;
                }
            }
        }
    });
    // The columns read the rows' results above and below: every band's row pass is done.
    forBands([&](std::int32_t y0, std::int32_t y1, int part) {
        float* const before = s.line.data() + lineSize * static_cast<std::size_t>(part);
        float* const after = before + wide;
        for (std::int32_t y = y0; y < y1; ++y) {
            const auto [begin, end] = span(y);
            if (begin >= end) {
                continue;
            }
            std::fill(before + begin, before + end, kNoDepth);
            std::fill(after + begin, after + end, kNoDepth);
            for (std::int32_t k = 1; k <= reach && k <= y; ++k) {
                const float* row = solidDepth + at(0, y - k);
                for (std::int32_t x = begin; x < end; ++x) {
                    before[x] = std::min(before[x], row[x]);
                }
            }
            for (std::int32_t k = 1; k <= reach && y + k < h; ++k) {
                const float* row = solidDepth + at(0, y + k);
                for (std::int32_t x = begin; x < end; ++x) {
                    after[x] = std::min(after[x], row[x]);
                }
            }
            const float* row = solidDepth + at(0, y);
            for (std::int32_t x = begin; x < end; ++x) {
                if (row[x] != kNoDepth && isCrack(before[x], row[x], after[x])) {
                    markCrack(at(x, y), y, part);
                }
            }
        }
    });

    // Slivers: a hidden surface seen in a single pixel between a clearly nearer surface and the
    // visible part of itself, along a row or a column, is where the nearer surface's edge
    // stretched apart rather than where the move uncovered it: a gap of the nearer surface.
    auto visible = [&](std::size_t i) {
        return (state[i] & (kCovered | kHiddenFront)) == kCovered;
    };
    auto sliver = [&](std::size_t i, std::size_t a, std::size_t b) {
        const float d = depth[i];
        return ((state[a] & kCovered) != 0 && clearlyNearer(depth[a], d) && visible(b) &&
                sameSurface(depth[b], d)) ||
               ((state[b] & kCovered) != 0 && clearlyNearer(depth[b], d) && visible(a) &&
                sameSurface(depth[a], d));
    };
    for (std::int32_t y = 1; y + 1 < h; ++y) {
        const auto [begin, end] = span(y);
        for (std::int32_t x = std::max(begin, 1); x < std::min(end, w - 1); ++x) {
            const std::size_t i = at(x, y);
            if ((state[i] & (kCovered | kHiddenFront)) == (kCovered | kHiddenFront) &&
                gapRound(state[i]) == 0 &&
                (sliver(i, i - 1, i + 1) || sliver(i, i - wide, i + wide))) {
                state[i] = static_cast<std::uint8_t>(state[i] | (1 << kRoundShift));
                rowHoles[y] = 1;
                ++bandGaps[0];
            }
        }
    }

    // Gaps: runs of uncovered pixels, at most maxGap long, between two solid pixels of a row or
    // a column. A second round counts the first round's gaps (and the cracks) as solid, so the
    // corners where a gap row meets a gap column are filled too. Rows without holes are solid
    // throughout. The rows run in bands of rows, the columns in bands of columns.
    auto solid = [state](std::size_t i, int round) {
        const int r = gapRound(state[i]);
        return (state[i] & kCovered) != 0 || (r != 0 && r < round);
    };
    auto fillRun = [&](std::size_t from, std::size_t to, std::size_t step, int round, int part) {
        const bool oneSurface = sameSurface(depth[from], depth[to]);
        for (std::size_t i = from + step; i < to; i += step) {
            if (gapRound(state[i]) == 0 && ((state[i] & kBehindCovered) == 0 || oneSurface)) {
                state[i] = static_cast<std::uint8_t>(state[i] | (round << kRoundShift));
                ++bandGaps[static_cast<std::size_t>(part)];
            }
        }
    };
    s.lastSolid.resize(wide);
    std::int32_t* const lastRow = s.lastSolid.data();
    const int columnParts = parts > 1 ? std::min(parts, std::max(1, w / kSoftTile)) : 1;
    for (int round = 1; round <= 2; ++round) {
        forBands([&](std::int32_t y0, std::int32_t y1, int part) {
            for (std::int32_t y = y0; y < y1; ++y) {
                const auto [begin, end] = span(y);
                if (round == 1) {
                    // The cracks and slivers found above are no longer covered.
                    for (std::size_t i = at(begin, y), stop = at(end, y); i < stop; ++i) {
                        if (gapRound(state[i]) != 0) {
                            state[i] = static_cast<std::uint8_t>(state[i] & ~kCovered);
                        }
                    }
                }
                if (rowHoles[y] == 0) {
                    continue;
                }
                std::int32_t last = -1;
                for (std::int32_t x = begin; x < end; ++x) {
                    if (!solid(at(x, y), round)) {
                        continue;
                    }
                    if (last >= 0 && x - last > 1 && x - last - 1 <= limit) {
                        fillRun(at(last, y), at(x, y), 1, round, part);
                    }
                    last = x;
                }
            }
        });
        forParts(w, columnParts, [&](std::int32_t x0, std::int32_t x1, int part) {
            std::fill(lastRow + x0, lastRow + x1, -1);
            std::int32_t lastWhole = -1;  // the last row without holes
            for (std::int32_t y = 0; y < h; ++y) {
                if (rowHoles[y] == 0) {
                    lastWhole = y;
                    continue;
                }
                const auto [begin, end] = span(y);
                for (std::int32_t x = std::max(begin, x0); x < std::min(end, x1); ++x) {
                    if (!solid(at(x, y), round)) {
                        continue;
                    }
                    const std::int32_t last = std::max(lastRow[x], lastWhole);
                    if (last >= 0 && y - last > 1 && y - last - 1 <= limit) {
                        fillRun(at(x, last), at(x, y), wide, round, part);
                    }
                    lastRow[x] = y;
                }
            }
        });
    }
    std::int64_t gapCount = 0;
    for (const std::int64_t n : bandGaps) {
        gapCount += n;
    }

    // The gaps take the colour of the pull-push pyramid over them, built tile row by tile row.
    if (gapCount == 0) {
        return 0;
    }
    FillPyramid pyramid;
    pyramid.layout(w, h, s.cells);
    std::vector<std::int64_t> bandFilled(static_cast<std::size_t>(parts), 0);
    forParts(tilesHigh, parts, [&](std::int32_t ty0, std::int32_t ty1, int part) {
        for (std::int32_t ty = ty0; ty < ty1; ++ty) {
            const std::int32_t begin = spanBegin[ty];
            const std::int32_t end = spanEnd[ty];
            if (begin >= end) {
                continue;
            }
            bool any = false;
            const std::int32_t y0 = ty * kSoftTile;
            const std::int32_t y1 = std::min(y0 + kSoftTile, h);
            for (std::int32_t y = y0; y < y1 && !any; ++y) {
                any = rowHoles[y] != 0;
            }
            if (!any) {
                continue;
            }
            pyramid.buildTileRow(frame, state, ty, begin, end);
            for (std::int32_t y = y0; y < y1; ++y) {
                if (rowHoles[y] == 0) {
                    continue;
                }
                for (std::int32_t x = begin; x < end; ++x) {
                    const std::size_t i = at(x, y);
                    if (gapRound(state[i]) != 0 && pyramid.fill(x, y, frame[i])) {
                        ++bandFilled[static_cast<std::size_t>(part)];
                    }
                }
            }
        }
    });
    std::int64_t filled = 0;
    for (const std::int64_t n : bandFilled) {
        filled += n;
    }
    return filled;
}

}  // namespace strata::render
