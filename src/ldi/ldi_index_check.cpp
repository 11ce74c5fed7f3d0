#include "ldi/ldi_index_check.h"

#include <algorithm>
#include <cinttypes>
#include <vector>

#include "platform/debug_output.h"
#include "platform/worker_pool.h"

namespace strata::ldi {

using platform::formatString;

namespace {

// Runs check(first, last) over bands of the rows [0, height) on the drawing threads (a large
// LDI's index holds tens of millions of entries) and returns the problem of the first band that
// has one: each band reports its first bad row, so this is the first bad row of all.
template <class Check>
std::string checkRowsInBands(std::int32_t height, Check&& check) {
    constexpr std::int32_t kRowsPerBand = 512;
    const int bands =
        std::max(1, std::min(platform::drawThreads() * 2, std::max(height, 0) / kRowsPerBand));
    if (bands == 1) {
        return check(0, height);
    }
    std::vector<std::string> problems(static_cast<std::size_t>(bands));
    platform::drawPool().run(bands, [&](int band) {
        const auto first = static_cast<std::int32_t>(std::int64_t{height} * band / bands);
        const auto last = static_cast<std::int32_t>(std::int64_t{height} * (band + 1) / bands);
        problems[static_cast<std::size_t>(band)] = check(first, last);
    });
    for (std::string& problem : problems) {
        if (!problem.empty()) {
            return std::move(problem);
        }
    }
    return {};
}

}  // namespace

std::string checkRowStart(const std::int32_t* rowStart, std::int32_t height, std::int64_t total,
                          const char* name) {
    if (rowStart == nullptr) {
        return formatString("%s missing", name);
    }
    if (rowStart[0] != 0) {
        return formatString("%s[0] is %d, not 0", name, rowStart[0]);
    }
    for (std::int32_t r = 0; r < height; ++r) {
        if (rowStart[r + 1] < rowStart[r]) {
            return formatString("%s decreases at row %d (%d after %d)", name, r + 1,
                                rowStart[r + 1], rowStart[r]);
        }
    }
    if (rowStart[height] != total) {
        return formatString("%s ends at %d but the header counts %" PRId64 " elements", name,
                            rowStart[height], total);
    }
    return {};
}

std::string checkLayerCounts(const std::uint8_t* layerCount, const std::int32_t* rowStart,
                             std::int32_t width, std::int32_t height) {
    if (layerCount == nullptr) {
        return "layerCount missing";
    }
    const std::int64_t stride = std::int64_t{width} + 1;
    return checkRowsInBands(height, [&](std::int32_t first, std::int32_t last) -> std::string {
        for (std::int32_t r = first; r < last; ++r) {
            const std::uint8_t* row = layerCount + r * stride;
            std::int64_t sum = 0;
            for (std::int32_t c = 0; c < width; ++c) {
                sum += row[c];
            }
            const std::int64_t span = std::int64_t{rowStart[r + 1]} - rowStart[r];
            if (sum != span) {
                return formatString("layerCount of row %d sums to %" PRId64
                                    " but rowStart gives the row %" PRId64 " depth pixels",
                                    r, sum, span);
            }
        }
        return {};
    });
}

std::string checkLayerOffsets(const std::uint16_t* layerOffset, const std::int32_t* rowStart,
                              std::int32_t width, std::int32_t height, const char* name) {
    if (layerOffset == nullptr) {
        return formatString("%s missing", name);
    }
    const std::int64_t stride = std::int64_t{width} + 1;
    return checkRowsInBands(height, [&](std::int32_t first, std::int32_t last) -> std::string {
        for (std::int32_t r = first; r < last; ++r) {
            const std::uint16_t* row = layerOffset + r * stride;
            if (row[0] != 0) {
                return formatString("%s of row %d starts at %u, not 0", name, r, row[0]);
            }
            for (std::int32_t c = 0; c < width; ++c) {
                if (row[c + 1] < row[c]) {
                    return formatString("%s of row %d decreases at column %d", name, r, c + 1);
                }
            }
            const std::int64_t span = std::int64_t{rowStart[r + 1]} - rowStart[r];
            if (row[width] != span) {
                return formatString("%s of row %d ends at %u but rowStart gives the row %" PRId64
                                    " entries",
                                    name, r, row[width], span);
            }
        }
        return {};
    });
}

}  // namespace strata::ldi
