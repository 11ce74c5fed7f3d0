#include "imageutil/rgb_image.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "imageutil/bmp_file.h"
#include "platform/debug_output.h"

namespace strata::imageutil {
namespace {

bool acceptableSize(std::int32_t w, std::int32_t h) {
    return w >= 0 && h >= 0 &&
           static_cast<std::uint64_t>(w) * static_cast<std::uint64_t>(h) <= kMaxImagePixels;
}

// w x h zero-filled words, or null when w x h is 0. Sizes were checked by the caller.
PixelBuffer allocateZeroed(std::int32_t w, std::int32_t h) {
    const std::size_t count = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    if (count == 0) {
        return nullptr;
    }
    return PixelBuffer(new std::uint32_t[count]());
}

std::uint32_t channelFromFloat(float c) {
    // truncate(c * 255), kept inside the byte for colours slightly outside 0..1 (and NaN).
    const float scaled = c * 255.0f;
    if (!(scaled > 0.0f)) {
        return 0;
    }
    return scaled >= 255.0f ? 255u : static_cast<std::uint32_t>(scaled);
}

}  // namespace

RgbImage::RgbImage(const RgbImage& other)
    : bytesPerPixel(other.bytesPerPixel), width(other.width), height(other.height) {
    const std::size_t count = other.pixelCount();
    if (other.pixels != nullptr && count != 0) {
        owned_ = PixelBuffer(new std::uint32_t[count]);
        std::memcpy(owned_.get(), other.pixels, count * sizeof(std::uint32_t));
        pixels = owned_.get();
        bytesPerPixel = 4;
    }
}

RgbImage& RgbImage::operator=(const RgbImage& other) {
    if (this != &other) {
        RgbImage copy(other);
        *this = std::move(copy);
    }
    return *this;
}

RgbImage::RgbImage(RgbImage&& other) noexcept
    : bytesPerPixel(std::exchange(other.bytesPerPixel, 4)),
      width(std::exchange(other.width, 0)),
      height(std::exchange(other.height, 0)),
      pixels(std::exchange(other.pixels, nullptr)),
      owned_(std::move(other.owned_)) {}

RgbImage& RgbImage::operator=(RgbImage&& other) noexcept {
    if (this != &other) {
        bytesPerPixel = std::exchange(other.bytesPerPixel, 4);
        width = std::exchange(other.width, 0);
        height = std::exchange(other.height, 0);
        pixels = std::exchange(other.pixels, nullptr);
        owned_ = std::move(other.owned_);
    }
    return *this;
}

RgbImage RgbImage::createOwned(std::int32_t w, std::int32_t h) {
    RgbImage image;
    if (!acceptableSize(w, h)) {
        platform::debugPrintf("RgbImage: refusing an image of %d x %d pixels\n", w, h);
        return image;
    }
    image.width = w;
    image.height = h;
    image.owned_ = allocateZeroed(w, h);
    image.pixels = image.owned_.get();
    return image;
}

RgbImage RgbImage::wrap(std::int32_t w, std::int32_t h, std::int32_t bytes, std::uint32_t* memory) {
    RgbImage image;
    image.bytesPerPixel = bytes;
    image.width = w;
    image.height = h;
    image.pixels = memory;
    return image;
}

bool RgbImage::load(const std::string& path) {
    PixelBuffer loaded;
    std::int32_t w = 0;
    std::int32_t h = 0;
    if (!ImageUtilLoadBMP(path, loaded, w, h)) {
        return false;
    }
    owned_ = std::move(loaded);
    pixels = owned_.get();
    width = w;
    height = h;
    bytesPerPixel = 4;
    return true;
}

bool RgbImage::resize(std::int32_t w, std::int32_t h, PixelBuffer adopted) {
    if (w == width && h == height && adopted == nullptr) {
        return true;
    }
    if (!acceptableSize(w, h)) {
        platform::debugPrintf("RgbImage: refusing to resize to %d x %d pixels\n", w, h);
        return false;
    }
    owned_ = adopted ? std::move(adopted) : allocateZeroed(w, h);
    pixels = owned_.get();
    width = w;
    height = h;
    bytesPerPixel = 4;
    return true;
}

void RgbImage::setPixels(std::uint32_t* newPixels) {
    if (owned_ != nullptr && newPixels == owned_.get()) {
        pixels = newPixels;
        return;
    }
    owned_.reset();
    pixels = newPixels;
}

std::uint32_t RgbImage::packColourFloat(float r, float g, float b) {
    return packColour(channelFromFloat(r), channelFromFloat(g), channelFromFloat(b));
}

std::size_t RgbImage::pixelCount() const {
    if (width <= 0 || height <= 0) {
        return 0;
    }
    return static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
}

std::span<std::uint32_t> RgbImage::words() {
    return pixels == nullptr ? std::span<std::uint32_t>() : std::span(pixels, pixelCount());
}

std::span<const std::uint32_t> RgbImage::words() const {
    return pixels == nullptr ? std::span<const std::uint32_t>()
                             : std::span<const std::uint32_t>(pixels, pixelCount());
}

void RgbImage::fillRectangle(std::int32_t row0, std::int32_t col0, std::int32_t w, std::int32_t h,
                             float r, float g, float b) {
    if (empty() || w <= 0 || h <= 0) {
        return;
    }
    // Clip in 64 bits so that huge origins or sizes cannot overflow.
    const std::int64_t y0 = std::max<std::int64_t>(row0, 0);
    const std::int64_t y1 = std::min<std::int64_t>(std::int64_t{row0} + h, height);
    const std::int64_t x0 = std::max<std::int64_t>(col0, 0);
    const std::int64_t x1 = std::min<std::int64_t>(std::int64_t{col0} + w, width);
    if (y0 >= y1 || x0 >= x1) {
        return;
    }
    const std::uint32_t colour = packColourFloat(r, g, b);
    for (std::int64_t y = y0; y < y1; ++y) {
        std::uint32_t* row = pixels + y * width;
        std::fill(row + x0, row + x1, colour);
    }
}

void RgbImage::fillDisc(std::int32_t row, std::int32_t col, std::int32_t radius, float r, float g,
                        float b) {
    if (empty() || radius < 0) {
        return;
    }
    const std::uint32_t colour = packColourFloat(r, g, b);
    const std::int64_t r2 = std::int64_t{radius} * radius;
    const std::int64_t y0 = std::max<std::int64_t>(std::int64_t{row} - radius, 0);
    const std::int64_t y1 = std::min<std::int64_t>(std::int64_t{row} + radius, height - 1);
    const std::int64_t x0 = std::max<std::int64_t>(std::int64_t{col} - radius, 0);
    const std::int64_t x1 = std::min<std::int64_t>(std::int64_t{col} + radius, width - 1);
    for (std::int64_t y = y0; y <= y1; ++y) {
        const std::int64_t dy = y - row;
        std::uint32_t* line = pixels + y * width;
        for (std::int64_t x = x0; x <= x1; ++x) {
            const std::int64_t dx = x - col;
            if (dx * dx + dy * dy <= r2) {
                line[x] = colour;
            }
        }
    }
}

void RgbImage::copyFrom(const RgbImage& source) {
    if (empty() || source.empty() || source.pixels == pixels) {
        return;
    }
    if (source.width == width && source.height == height) {
        std::memmove(pixels, source.pixels, pixelCount() * sizeof(std::uint32_t));
        return;
    }
    const std::int32_t w = std::min(width, source.width);
    const std::int32_t h = std::min(height, source.height);
    for (std::int32_t y = 0; y < h; ++y) {
        std::memmove(
            pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(width),
            source.pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(source.width),
            static_cast<std::size_t>(w) * sizeof(std::uint32_t));
    }
}

void RgbImage::clear() {
    fill(0);
}

void RgbImage::fill(std::uint32_t colour) {
    const auto all = words();
    std::fill(all.begin(), all.end(), colour);
}

void RgbImage::fillSplit(std::int32_t n, std::uint32_t lower, std::uint32_t upper) {
    if (empty()) {
        return;
    }
    const std::int32_t split = std::clamp(n, 0, height);
    const std::size_t lowerWords =
        static_cast<std::size_t>(split) * static_cast<std::size_t>(width);
    std::fill(pixels, pixels + lowerWords, lower);
    std::fill(pixels + lowerWords, pixels + pixelCount(), upper);
}

void RgbImage::overlay(std::span<const std::uint32_t> sourceWords) {
    const auto target = words();
    const std::size_t count = std::min(target.size(), sourceWords.size());
    for (std::size_t i = 0; i < count; ++i) {
        if (sourceWords[i] != kTransparent) {
            target[i] = sourceWords[i];
        }
    }
}

void RgbImage::darken() {
    for (std::uint32_t& p : words()) {
        p = (p >> 1) & 0x7F7F7F7Fu;
    }
}

int RgbImage::writeBMP(const std::string& path) const {
    return ImageUtilWriteBMP(path, width, height, pixels);
}

}  // namespace strata::imageutil
