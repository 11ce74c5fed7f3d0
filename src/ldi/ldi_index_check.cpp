#include "ldi/ldi_index_check.h"

#include <cinttypes>

#include "platform/debug_output.h"

namespace strata::ldi {

using platform::formatString;

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
    for (std::int32_t r = 0; r < height; ++r) {
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
}

std::string checkLayerOffsets(const std::uint16_t* layerOffset, const std::int32_t* rowStart,
                              std::int32_t width, std::int32_t height, const char* name) {
    if (layerOffset == nullptr) {
        return formatString("%s missing", name);
    }
    const std::int64_t stride = std::int64_t{width} + 1;
    for (std::int32_t r = 0; r < height; ++r) {
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
}

}  // namespace strata::ldi
