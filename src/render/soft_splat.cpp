#include "render/soft_splat.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

namespace strata::render {
namespace {

constexpr std::uint8_t N = kWeightNew;
constexpr std::uint8_t H = kWeightHalf;
constexpr std::uint8_t Q = kWeightQuarter;

// 1 / weight for every weight a pixel can hold, so resolving costs no division.
const std::array<float, kMaxWeight + kWeightNew + 1>& reciprocals() {
    static const auto table = [] {
        std::array<float, kMaxWeight + kWeightNew + 1> t{};
        for (std::size_t i = 1; i < t.size(); ++i) {
            t[i] = 1.0f / static_cast<float>(i);
        }
        return t;
    }();
    return table;
}

}  // namespace

std::uint32_t meanColour(std::uint64_t sum, std::uint32_t weight) {
    const float inv = reciprocals()[std::min<std::uint32_t>(weight, kMaxWeight + kWeightNew)];
    const auto r = static_cast<std::uint32_t>(static_cast<float>(sum >> 42) * inv + 0.5f);
    const auto g =
        static_cast<std::uint32_t>(static_cast<float>((sum >> 21) & 0x1FFFFFu) * inv + 0.5f);
    const auto b = static_cast<std::uint32_t>(static_cast<float>(sum & 0x1FFFFFu) * inv + 0.5f);
    return 0xFF000000u | (std::min(r, 255u) << 16) | (std::min(g, 255u) << 8) | std::min(b, 255u);
}

namespace {

bool sameSurface(float a, float b) {
    return std::fabs(a - b) <= kSameSurfaceDepth * std::max(std::fabs(a), std::fabs(b));
}

struct Cell {
    float r = 0.0f;
    float g = 0.0f;
    float b = 0.0f;
    float w = 0.0f;
};

struct Level {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<Cell> cells;
};

// One pull step: every cell of the coarser level is the weighted mean of its (up to) four
// children, with weight min(1, sum of the children's weights).
template <typename Child>
Level pull(std::int32_t width, std::int32_t height, Child child) {
    Level next;
    next.width = (width + 1) / 2;
    next.height = (height + 1) / 2;
    next.cells.assign(static_cast<std::size_t>(next.width) * next.height, Cell{});
    for (std::int32_t y = 0; y < next.height; ++y) {
        for (std::int32_t x = 0; x < next.width; ++x) {
            Cell sum;
            for (std::int32_t j = 0; j < 2; ++j) {
                for (std::int32_t i = 0; i < 2; ++i) {
                    const std::int32_t cx = 2 * x + i;
                    const std::int32_t cy = 2 * y + j;
                    if (cx < width && cy < height) {
                        const Cell c = child(cx, cy);
                        sum.r += c.w * c.r;
                        sum.g += c.w * c.g;
                        sum.b += c.w * c.b;
                        sum.w += c.w;
                    }
                }
            }
            Cell& out = next.cells[static_cast<std::size_t>(y) * next.width + x];
            if (sum.w > 0.0f) {
                out = {sum.r / sum.w, sum.g / sum.w, sum.b / sum.w, std::min(sum.w, 1.0f)};
            }
        }
    }
    return next;
}

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
    width = std::max(w, 0);
    height = std::max(h, 0);
    pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), SoftPixel{});
    written = false;
}

std::int64_t resolveSoftSplats(const SoftSplatBuffer& buffer, std::uint32_t* frame, int maxGap) {
    const std::int32_t w = buffer.width;
    const std::int32_t h = buffer.height;
    const std::size_t count = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    if (count == 0 || frame == nullptr) {
        return 0;
    }
    // Covered pixels take their surface's colour.
    std::vector<std::uint8_t> covered(count, 0);
    for (std::size_t i = 0; i < count; ++i) {
        const SoftPixel& p = buffer.pixels[i];
        if (p.weight >= kCoveredWeight) {
            covered[i] = 1;
            frame[i] = meanColour(p.sum, p.weight);
        }
    }

    // Gaps: runs of uncovered pixels, at most maxGap long, between two covered pixels of a row
    // or a column. A second round counts the first round's gaps as covered, so the corners
    // where a gap row meets a gap column are filled too.
    const std::int32_t limit = std::max(maxGap, 0);
    std::vector<std::uint8_t> gap(count, 0);
    std::int64_t gapCount = 0;
    std::vector<std::int32_t> last(static_cast<std::size_t>(std::max(w, h)));
    auto sweep = [&](std::uint8_t round, std::int32_t lines, std::int32_t length, auto index) {
        auto solid = [&](std::size_t at) {
            return covered[at] != 0 || (gap[at] != 0 && gap[at] < round);
        };
        for (std::int32_t line = 0; line < lines; ++line) {
            std::int32_t before = -1;  // last solid position going forward
            for (std::int32_t i = 0; i < length; ++i) {
                if (solid(index(line, i))) {
                    before = i;
                }
                last[static_cast<std::size_t>(i)] = before;
            }
            std::int32_t after = length;  // next solid position going backward
            for (std::int32_t i = length - 1; i >= 0; --i) {
                const std::size_t at = index(line, i);
                const std::int32_t from = last[static_cast<std::size_t>(i)];
                if (solid(at)) {
                    after = i;
                } else if (gap[at] == 0 && from >= 0 && after < length &&
                           after - from - 1 <= limit &&
                           (buffer.pixels[at].behindWeight < kCoveredWeight ||
                            sameSurface(buffer.pixels[index(line, from)].depth,
                                        buffer.pixels[index(line, after)].depth))) {
                    gap[at] = round;
                    ++gapCount;
                }
            }
        }
    };
    // Cracks: covered pixels showing a surface clearly behind the one covering both sides of
    // them within the limit, along a row or a column: a hidden surface seen through the gaps
    // between a nearer surface's footprints. They are gaps of the nearer surface.
    auto cracks = [&](std::int32_t lines, std::int32_t length, auto index) {
        auto nearerEnd = [&](std::int32_t line, std::int32_t i, std::int32_t step, float depth,
                             float& found) {
            for (std::int32_t k = 1; k <= limit + 1; ++k) {
                const std::int32_t j = i + step * k;
                if (j < 0 || j >= length) {
                    return false;
                }
                const std::size_t at = index(line, j);
                if (covered[at] != 0 && gap[at] == 0 &&
                    !sameSurface(buffer.pixels[at].depth, depth) &&
                    buffer.pixels[at].depth < depth) {
                    found = buffer.pixels[at].depth;
                    return true;
                }
            }
            return false;
        };
        for (std::int32_t line = 0; line < lines; ++line) {
            for (std::int32_t i = 0; i < length; ++i) {
                const std::size_t at = index(line, i);
                if (covered[at] == 0 || gap[at] != 0) {
                    continue;
                }
                const float depth = buffer.pixels[at].depth;
                float before = 0.0f;
                float after = 0.0f;
                if (nearerEnd(line, i, -1, depth, before) && nearerEnd(line, i, 1, depth, after) &&
                    sameSurface(before, after)) {
                    gap[at] = 1;
                    ++gapCount;
                }
            }
        }
    };
    cracks(h, w, [w](std::int32_t row, std::int32_t x) {
        return static_cast<std::size_t>(row) * static_cast<std::size_t>(w) + x;
    });
    cracks(w, h, [w](std::int32_t column, std::int32_t y) {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + column;
    });
    for (std::size_t i = 0; i < count; ++i) {
        if (gap[i] != 0) {
            covered[i] = 0;
        }
    }
    for (std::uint8_t round = 1; round <= 2; ++round) {
        sweep(round, h, w, [w](std::int32_t row, std::int32_t x) {
            return static_cast<std::size_t>(row) * static_cast<std::size_t>(w) + x;
        });
        sweep(round, w, h, [w](std::int32_t column, std::int32_t y) {
            return static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + column;
        });
    }
    // Outside the gaps, a footprint's edge does not hide the surface it replaced.
    for (std::size_t i = 0; i < count; ++i) {
        const SoftPixel& p = buffer.pixels[i];
        if (covered[i] == 0 && gap[i] == 0 && p.behindWeight >= kCoveredWeight) {
            frame[i] = meanColour(p.behindSum, p.behindWeight);
        }
    }
    if (gapCount == 0) {
        return 0;
    }

    // Pull: three coarser levels of the covered colours.
    constexpr int kLevels = 3;
    Level levels[kLevels];
    levels[0] = pull(w, h, [&](std::int32_t x, std::int32_t y) {
        const std::size_t i = static_cast<std::size_t>(y) * w + x;
        if (covered[i] == 0) {
            return Cell{};
        }
        const std::uint32_t c = frame[i];
        return Cell{static_cast<float>((c >> 16) & 0xFFu), static_cast<float>((c >> 8) & 0xFFu),
                    static_cast<float>(c & 0xFFu), 1.0f};
    });
    for (int k = 1; k < kLevels; ++k) {
        const Level& finer = levels[k - 1];
        levels[k] = pull(finer.width, finer.height, [&finer](std::int32_t x, std::int32_t y) {
            return finer.cells[static_cast<std::size_t>(y) * finer.width + x];
        });
    }
    // Push: cells short of full weight take the rest from their parent.
    for (int k = kLevels - 2; k >= 0; --k) {
        Level& level = levels[k];
        const Level& parent = levels[k + 1];
        for (std::int32_t y = 0; y < level.height; ++y) {
            for (std::int32_t x = 0; x < level.width; ++x) {
                Cell& c = level.cells[static_cast<std::size_t>(y) * level.width + x];
                const Cell& p =
                    parent.cells[static_cast<std::size_t>(y / 2) * parent.width + x / 2];
                const float keep = c.w;
                const float take = (1.0f - keep) * p.w;
                if (keep >= 1.0f || take <= 0.0f) {
                    continue;
                }
                const float norm = 1.0f / (keep + take);
                c = {(keep * c.r + take * p.r) * norm, (keep * c.g + take * p.g) * norm,
                     (keep * c.b + take * p.b) * norm, keep + take};
            }
        }
    }
    // The gaps take the colour of their cell one level up.
    std::int64_t filled = 0;
    const Level& first = levels[0];
    for (std::int32_t y = 0; y < h; ++y) {
        for (std::int32_t x = 0; x < w; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * w + x;
            if (gap[i] == 0) {
                continue;
            }
            const Cell& c = first.cells[static_cast<std::size_t>(y / 2) * first.width + x / 2];
            if (c.w <= 0.0f) {
                continue;
            }
            auto channel = [](float v) {
                return static_cast<std::uint32_t>(std::clamp(v + 0.5f, 0.0f, 255.0f));
            };
            frame[i] = 0xFF000000u | (channel(c.r) << 16) | (channel(c.g) << 8) | channel(c.b);
            ++filled;
        }
    }
    return filled;
}

}  // namespace strata::render
