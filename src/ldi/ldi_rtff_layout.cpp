#include "ldi/ldi_rtff_layout.h"

#include "ldi/ldi_types.h"
#include "platform/debug_output.h"

namespace strata::ldi {

namespace {
std::uint64_t blocksOf(std::uint64_t bytes) {
    return (bytes + RtffLayout::kBlock - 1) / RtffLayout::kBlock;
}
}  // namespace

bool computeRtffLayout(std::int32_t dptType, std::int64_t width, std::int64_t height,
                       const std::array<std::int64_t, 4>& counts, RtffLayout& layout,
                       std::string& problem) {
    // Inputs are bounded well below 2^31, so no product below can overflow 64 bits.
    constexpr std::int64_t kLimit = std::int64_t{1} << 31;
    if (width < 0 || height < 0 || width >= kLimit || height >= kLimit) {
        problem = "grid size out of range";
        return false;
    }
    for (std::int64_t c : counts) {
        if (c < 0 || c >= kLimit) {
            problem = "element count out of range";
            return false;
        }
    }
    const auto w = static_cast<std::uint64_t>(width);
    const auto h = static_cast<std::uint64_t>(height);
    const auto n = [&counts](int k) { return static_cast<std::uint64_t>(counts[k]); };
    RtffLayout out;
    if (dptType == toInt(DptType::CP)) {
        out.partA = h * (w + 5) + 4;
        out.partB = 4 * n(0);
    } else if (dptType == toInt(DptType::QP)) {
        out.partA = 4 * h + 2 * h * (w + 1) + 4;
        out.partB = 8 * n(0);
    } else if (dptType == toInt(DptType::MRQP)) {
        if ((h * (w + 1)) % 2 != 0) {
            problem = platform::formatString(
                "block-layout MRQP needs an even height x (width + 1), this grid has %llu",
                static_cast<unsigned long long>(h * (w + 1)));
            return false;
        }
        out.partA = 6 * (h * (w + 3) + 2);
        out.partB = 8 * n(0) + 4 * (n(1) + n(2) + n(3));
    } else {
        problem = platform::formatString("no block layout for dptType %d", dptType);
        return false;
    }
    out.blocksA = blocksOf(out.partA);
    out.blocksB = blocksOf(out.partB);
    layout = out;
    return true;
}

}  // namespace strata::ldi
