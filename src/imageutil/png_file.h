// PNG output for the command line and picture comparisons in tests: 8-bit RGB files written with
// the top row first (images are stored bottom-up), through libpng. Saves go through a temporary
// file beside the target, so a failed save leaves any existing file intact.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "imageutil/rgb_image.h"

namespace strata::imageutil {

// Writes the image as an 8-bit RGB PNG (the top byte of each pixel word is dropped). Returns
// false for an image without pixels or any write failure; the reason goes to *error when given,
// else one line to the debug output.
bool writePng(const std::string& path, const RgbImage& image, std::string* error = nullptr);

// Reads any PNG that libpng can expand to 8-bit RGB (palette, grey, 16-bit and alpha are
// converted; alpha is dropped) into an owned image with row 0 the bottom row. On failure returns
// false and leaves `image` unchanged; the reason goes to *error when given, else to the debug
// output. Before decoding, every chunk must lie inside the file and the compressed data must be
// able to hold the declared image; with expectedWidth and expectedHeight above 0, an image of
// another size is refused from its header alone.
bool readPng(const std::string& path, RgbImage& image, std::string* error = nullptr,
             std::int32_t expectedWidth = 0, std::int32_t expectedHeight = 0);
// The same on file contents in memory (path only names them in messages).
bool decodePngBytes(const std::string& path, std::span<const std::uint8_t> bytes, RgbImage& image,
                    std::string* error = nullptr, std::int32_t expectedWidth = 0,
                    std::int32_t expectedHeight = 0);

// 16-bit greyscale PNG files (depth maps), values row 0 at the BOTTOM (value (x, y) at
// y * width + x), stored top row first as PNG files are. The writer refuses a value count other
// than width x height; the decoder refuses, with one line naming path, anything but a 16-bit
// greyscale image (saying what the file holds instead), and checks the chunks as readPng does.
bool writePngGrey16(const std::string& path, std::int32_t width, std::int32_t height,
                    std::span<const std::uint16_t> values, std::string* error = nullptr);
bool decodePngGrey16Bytes(const std::string& path, std::span<const std::uint8_t> bytes,
                          std::int32_t& width, std::int32_t& height,
                          std::vector<std::uint16_t>& values, std::string* error = nullptr);

// Writes a BMP file (32-bit) when the name ends in ".bmp" in any letter case, a PNG file
// otherwise. Returns false on failure with the reason in *error when given.
bool writeImageFile(const std::string& path, const RgbImage& image, std::string* error = nullptr);

}  // namespace strata::imageutil
