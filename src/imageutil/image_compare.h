// Picture comparison for tests and tools: peak signal-to-noise ratio and counts of differing
// pixels over the red, green and blue channels of pixel words (the top byte is ignored).
#pragma once

#include <cstdint>

#include "imageutil/rgb_image.h"

namespace strata::imageutil {

// PSNR in decibels over the three colour channels, 10 log10(255^2 / mean squared error).
// Infinite for identical pictures; 0 when the sizes differ or either image has no pixels.
double psnr(const RgbImage& a, const RgbImage& b);

// Number of pixels where any colour channel differs by more than tolerancePerChannel.
// -1 when the sizes differ or either image has no pixels (two empty images of equal size: 0).
int countDifferentPixels(const RgbImage& a, const RgbImage& b, int tolerancePerChannel);

}  // namespace strata::imageutil
