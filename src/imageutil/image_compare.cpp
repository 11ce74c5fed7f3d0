#include "imageutil/image_compare.h"

#include <cmath>
#include <cstdlib>
#include <limits>

namespace strata::imageutil {
namespace {

bool comparable(const RgbImage& a, const RgbImage& b) {
    return a.width == b.width && a.height == b.height && a.pixels != nullptr &&
           b.pixels != nullptr && a.pixelCount() != 0;
}

int channel(std::uint32_t word, int shift) {
    return static_cast<int>((word >> shift) & 0xFFu);
}

}  // namespace

double psnr(const RgbImage& a, const RgbImage& b) {
    if (!comparable(a, b)) {
        return 0.0;
    }
    const auto wa = a.words();
    const auto wb = b.words();
    std::uint64_t squared = 0;
    for (std::size_t i = 0; i < wa.size(); ++i) {
        for (int shift = 0; shift <= 16; shift += 8) {
            const std::int64_t d = channel(wa[i], shift) - channel(wb[i], shift);
            squared += static_cast<std::uint64_t>(d * d);
        }
    }
    if (squared == 0) {
        return std::numeric_limits<double>::infinity();
    }
    const double mse = static_cast<double>(squared) / (3.0 * static_cast<double>(wa.size()));
    return 10.0 * std::log10(255.0 * 255.0 / mse);
}

int countDifferentPixels(const RgbImage& a, const RgbImage& b, int tolerancePerChannel) {
    if (a.width == b.width && a.height == b.height && a.pixelCount() == 0) {
        return 0;
    }
    if (!comparable(a, b)) {
        return -1;
    }
    const auto wa = a.words();
    const auto wb = b.words();
    int count = 0;
    for (std::size_t i = 0; i < wa.size(); ++i) {
        for (int shift = 0; shift <= 16; shift += 8) {
            if (std::abs(channel(wa[i], shift) - channel(wb[i], shift)) > tolerancePerChannel) {
                ++count;
                break;
            }
        }
    }
    return count;
}

}  // namespace strata::imageutil
