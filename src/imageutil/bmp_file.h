// Uncompressed BMP files with the 40-byte information header: 32-bit files are written, 24- and
// 32-bit files are read. Pixels in memory are 32-bit words 0x00RRGGBB, row 0 at the bottom. Every
// problem is reported as one line on the debug output; functions return 1 on success, 0 on
// failure, and a failed read never hands out a partly filled image.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

namespace strata::imageutil {

inline constexpr std::uint32_t kBmpFileHeaderSize = 14;
inline constexpr std::uint32_t kBmpInfoHeaderSize = 40;
inline constexpr std::uint32_t kBmpPixelOffset = kBmpFileHeaderSize + kBmpInfoHeaderSize;  // 54
inline constexpr std::uint16_t kBmpFileType = 0x4D42;                                      // "BM"
inline constexpr std::uint32_t kBmpCompressionNone = 0;
inline constexpr std::uint32_t kBmpCompressionBitFields = 3;

// Largest side a BMP file may declare; larger files are refused before anything is allocated.
inline constexpr std::int32_t kBmpMaxSide = 1 << 16;

// The 14-byte file header, field by field.
struct BmpFileHeader {
    std::uint16_t type = kBmpFileType;
    std::uint32_t size = 0;
    std::uint16_t reserved1 = 0;
    std::uint16_t reserved2 = 0;
    std::uint32_t offBits = kBmpPixelOffset;
};

// The 40-byte information header, field by field.
struct BmpInfoHeader {
    std::uint32_t size = kBmpInfoHeaderSize;
    std::int32_t width = 0;
    std::int32_t height = 0;  // negative: rows stored top row first
    std::uint16_t planes = 1;
    std::uint16_t bitCount = 32;
    std::uint32_t compression = kBmpCompressionNone;
    std::uint32_t sizeImage = 0;
    std::int32_t xPelsPerMeter = 0;
    std::int32_t yPelsPerMeter = 0;
    std::uint32_t clrUsed = 0;
    std::uint32_t clrImportant = 0;
};

// Closes the stdio stream of an open BMP file.
struct BmpFileCloser {
    void operator()(std::FILE* file) const {
        if (file != nullptr) {
            std::fclose(file);
        }
    }
};
using BmpHandle = std::unique_ptr<std::FILE, BmpFileCloser>;

// Bytes per file row of a 24-bit image: width x 3 rounded up to a multiple of 4.
constexpr std::uint64_t bmpStride24(std::int32_t width) {
    return ((static_cast<std::uint64_t>(width) * 3u) + 3u) & ~std::uint64_t{3};
}

// Writes a 32-bit BMP file of width x |height| pixels taken from `pixels` (width x |height|
// words, rows in file order: a positive height stores row 0 as the bottom row). The file is
// written beside the target and renamed into place, so a failed write leaves any existing file
// intact. Refuses width <= 0, height 0, a null pixel pointer or a file larger than 4 GiB.
// Returns 1 on success, 0 on failure.
int ImageUtilWriteBMP(const std::string& path, std::int32_t width, std::int32_t height,
                      const std::uint32_t* pixels);

// Opens the file, reads and checks both headers (type "BM", 40-byte information header, one
// plane, 0 < width <= kBmpMaxSide, 0 < |height| <= kBmpMaxSide) and on success leaves `handle`
// open and positioned at the pixel data: the header's data offset when it lies between 54 and
// the end of the file, else offset 54. On failure reports, closes the file (handle null) and
// returns 0.
int ImageUtilReadBMPHeader(const std::string& path, BmpHandle& handle, BmpFileHeader& fileHeader,
                           BmpInfoHeader& infoHeader);

// Reads width x height pixels at the handle's position into `pixels` (which must hold at least
// width x height words), rows in file order. bitsPerPixel 24: rows of bmpStride24(width) bytes,
// each pixel expanded to the word 0x00RRGGBB. bitsPerPixel 32: width x 4 bytes per row, words
// kept as they are. A short read reports "ImageUtilReadBMPBits(): image data read error!" and
// returns 0; `pixels` may then be partly overwritten. Preconditions: width, height > 0.
int ImageUtilReadBMPBits(std::FILE* handle, std::int32_t width, std::int32_t height,
                         std::span<std::uint32_t> pixels, int bitsPerPixel);

// Loads a 24- or 32-bit file into newly allocated pixels (owned by the caller through the
// unique pointer). A negative height is reported as an inverted bitmap and the rows are put
// bottom-up, so row 0 is always the bottom row. 32-bit files may use bit-field compression with
// the standard masks. On any failure: one debug line, returns 0, pixels null, width and height 0.
int ImageUtilLoadBMP(const std::string& path, std::unique_ptr<std::uint32_t[]>& pixels,
                     std::int32_t& width, std::int32_t& height);

// Reads a 24-bit uncompressed file into the caller's buffer (row 0 the bottom row). Files whose
// width x |height| exceeds pixels.size() are refused. On success stores the size in the optional
// outputs and returns 1; on failure reports, leaves the buffer untouched and returns 0.
int ImageUtilReadBMP(const std::string& path, std::span<std::uint32_t> pixels,
                     std::int32_t* widthOut = nullptr, std::int32_t* heightOut = nullptr);

}  // namespace strata::imageutil
