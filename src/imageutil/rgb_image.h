// The frame image record: a width x height grid of 32-bit pixel words 0x00RRGGBB, row 0 at the
// BOTTOM. Every picture the renderer writes, every stereo half and every image read from or
// written to a file is one of these; the warp kernels write words through `pixels` directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace strata::imageutil {

// Pixel storage as handed between the image, the BMP reader and callers that adopt buffers.
using PixelBuffer = std::unique_ptr<std::uint32_t[]>;

// Largest pixel count an image may own (1 GiB of words); larger requests are refused.
inline constexpr std::uint64_t kMaxImagePixels = std::uint64_t{1} << 28;

// A plain image record with public fields.
//
// Ownership: an image made by createOwned, resize or load owns its pixels (an internal buffer
// that `pixels` points into) and frees them when destroyed. An image made by wrap, or whose
// pointer was replaced by setPixels, only refers to the caller's memory and never frees it.
//
// Copies are deep: copying any image (owned or wrapped) gives an image that owns a fresh copy of
// its width x height words. Moves hand the pixels over and leave the source empty.
//
// Contract for every operation: when `pixels` is not null it addresses at least width x height
// 32-bit words. `bytesPerPixel` is 4 for every image this system draws into; operations always
// treat the pixels as 32-bit words.
class RgbImage {
  public:
    std::int32_t bytesPerPixel = 4;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint32_t* pixels = nullptr;  // row-major, pixel (x, y) is word y * width + x

    // Transparent marker for overlay: source words equal to it leave the target unchanged.
    static constexpr std::uint32_t kTransparent = 0xFFFFFFFFu;

    // The empty image: bytesPerPixel 4, width 0, height 0, no pixels.
    RgbImage() = default;
    ~RgbImage() = default;
    RgbImage(const RgbImage& other);
    RgbImage& operator=(const RgbImage& other);
    RgbImage(RgbImage&& other) noexcept;
    RgbImage& operator=(RgbImage&& other) noexcept;

    static RgbImage createEmpty() { return RgbImage(); }

    // An owned image of w x h zero-filled pixels. (0, 0) gives the empty image; a size with one
    // side 0 stores the size and allocates nothing. Negative sides or more than kMaxImagePixels
    // pixels are refused with one debug line and give the empty image.
    static RgbImage createOwned(std::int32_t w, std::int32_t h);

    // Refers to the caller's memory (at least w x h words); the image never frees it.
    static RgbImage wrap(std::int32_t w, std::int32_t h, std::int32_t bytesPerPixel,
                         std::uint32_t* pixels);

    // Reads a 24- or 32-bit BMP file into newly owned pixels. On failure (reported through the
    // BMP reader's debug line) returns false and leaves the image as it was.
    bool load(const std::string& path);

    // Changes the size. Nothing happens when the size is unchanged and no buffer is given.
    // Otherwise releases owned pixels (wrapped memory is left alone), stores the size and adopts
    // `adopted` (which must hold at least w x h words) or allocates w x h zero-filled words
    // (none when w x h is 0). Returns false, leaving the image unchanged, for negative sides or
    // more than kMaxImagePixels pixels.
    bool resize(std::int32_t w, std::int32_t h, PixelBuffer adopted = nullptr);

    // Replaces the pixel pointer only; the image then refers to the caller's memory. Pixels it
    // owned before are released.
    void setPixels(std::uint32_t* newPixels);

    // The pixel word 0x00RRGGBB keeping the low byte of each component.
    static constexpr std::uint32_t packColour(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
        return ((r & 0xFFu) << 16) | ((g & 0xFFu) << 8) | (b & 0xFFu);
    }
    // Float components in 0..1, each converted as truncate(c * 255).
    static std::uint32_t packColourFloat(float r, float g, float b);

    // Fills rows row0 .. row0+h-1 and columns col0 .. col0+w-1, clipped to the image on all
    // four sides (negative origins allowed). Colour components are floats in 0..1.
    void fillRectangle(std::int32_t row0, std::int32_t col0, std::int32_t w, std::int32_t h,
                       float r, float g, float b);

    // Fills every pixel with radius^2 >= (y-row)^2 + (x-col)^2 that lies inside the image.
    // Radius 0 colours exactly the centre pixel; a negative radius colours nothing.
    void fillDisc(std::int32_t row, std::int32_t col, std::int32_t radius, float r, float g,
                  float b);

    // Copies the source's pixels. Images of the same size copy every word; otherwise only the
    // overlapping rectangle (columns below both widths, rows below both heights) is copied.
    void copyFrom(const RgbImage& source);

    // Sets every pixel word to 0.
    void clear();
    // Sets every pixel to the colour word.
    void fill(std::uint32_t colour);
    // Rows 0 .. n-1 get `lower`, all other rows `upper` (n <= 0: all upper; n >= height: all
    // lower).
    void fillSplit(std::int32_t n, std::uint32_t lower, std::uint32_t upper);
    // Copies each source word that is not kTransparent onto the pixel with the same index;
    // words beyond either end are ignored.
    void overlay(std::span<const std::uint32_t> sourceWords);
    // Halves each channel: p becomes (p >> 1) & 0x7F7F7F7F.
    void darken();

    // Writes the image as a 32-bit BMP file (bottom row first). Returns 1 on success, 0 on
    // failure (reported through the BMP writer's debug line; an existing file stays intact).
    int writeBMP(const std::string& path) const;

    // Pixel (x, y), y counted from the bottom row. Precondition: 0 <= x < width, 0 <= y < height.
    std::uint32_t& at(int x, int y) {
        return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                      static_cast<std::size_t>(x)];
    }
    std::uint32_t at(int x, int y) const {
        return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                      static_cast<std::size_t>(x)];
    }

    // width x height as a size (0 when either side is not positive).
    std::size_t pixelCount() const;
    // The pixel words as a span (empty when there are no pixels).
    std::span<std::uint32_t> words();
    std::span<const std::uint32_t> words() const;
    bool ownsPixels() const { return owned_ != nullptr && pixels == owned_.get(); }
    bool empty() const { return pixels == nullptr || pixelCount() == 0; }

  private:
    PixelBuffer owned_;
};

}  // namespace strata::imageutil
