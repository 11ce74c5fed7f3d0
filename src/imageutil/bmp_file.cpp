// BMP reading and writing on plain stdio calls. Headers are parsed field by field; every size
// taken from a file is checked in 64 bits against fixed caps and the file's length before any
// buffer is allocated, and images are handed out only after every pixel has been read.
#include "imageutil/bmp_file.h"

#include <sys/stat.h>

#include <array>
#include <cinttypes>
#include <cstdlib>
#include <new>
#include <optional>
#include <vector>

#include "imageutil/rgb_image.h"
#include "platform/byte_io.h"
#include "platform/debug_output.h"
#include "platform/file_io.h"

namespace strata::imageutil {
namespace {

using platform::debugPrintf;

void serializeFileHeader(const BmpFileHeader& h, platform::ByteWriter& out) {
    out.putU16(h.type);
    out.putU32(h.size);
    out.putU16(h.reserved1);
    out.putU16(h.reserved2);
    out.putU32(h.offBits);
}

void serializeInfoHeader(const BmpInfoHeader& h, platform::ByteWriter& out) {
    out.putU32(h.size);
    out.putI32(h.width);
    out.putI32(h.height);
    out.putU16(h.planes);
    out.putU16(h.bitCount);
    out.putU32(h.compression);
    out.putU32(h.sizeImage);
    out.putI32(h.xPelsPerMeter);
    out.putI32(h.yPelsPerMeter);
    out.putU32(h.clrUsed);
    out.putU32(h.clrImportant);
}

BmpFileHeader parseFileHeader(std::span<const std::uint8_t, kBmpFileHeaderSize> bytes) {
    platform::ByteReader in(bytes);
    BmpFileHeader h;
    h.type = in.getU16();
    h.size = in.getU32();
    h.reserved1 = in.getU16();
    h.reserved2 = in.getU16();
    h.offBits = in.getU32();
    return h;
}

BmpInfoHeader parseInfoHeader(std::span<const std::uint8_t, kBmpInfoHeaderSize> bytes) {
    platform::ByteReader in(bytes);
    BmpInfoHeader h;
    h.size = in.getU32();
    h.width = in.getI32();
    h.height = in.getI32();
    h.planes = in.getU16();
    h.bitCount = in.getU16();
    h.compression = in.getU32();
    h.sizeImage = in.getU32();
    h.xPelsPerMeter = in.getI32();
    h.yPelsPerMeter = in.getI32();
    h.clrUsed = in.getU32();
    h.clrImportant = in.getU32();
    return h;
}

bool readExactly(std::FILE* file, void* data, std::size_t size) {
    return size == 0 || std::fread(data, 1, size, file) == size;
}

std::optional<std::uint64_t> openFileSize(std::FILE* file) {
    struct stat info {};
    if (::fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(info.st_size);
}

// Sides a reader accepts: 0 < width, 0 < |height|, both at most kBmpMaxSide, and no more than
// kMaxImagePixels pixels. The absolute height is computed in 64 bits (INT32_MIN has none in 32).
bool usableSize(std::int32_t width, std::int32_t height) {
    const std::int64_t rows = std::llabs(static_cast<std::int64_t>(height));
    if (width <= 0 || rows == 0 || width > kBmpMaxSide || rows > kBmpMaxSide) {
        return false;
    }
    return static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(rows) <= kMaxImagePixels;
}

std::int32_t absoluteHeight(std::int32_t height) {
    return height < 0 ? -height : height;  // callers checked usableSize, so no overflow
}

// Bytes from the current position to the end of the file (0 when unknown).
std::uint64_t bytesLeft(std::FILE* file) {
    const auto size = openFileSize(file);
    const long position = std::ftell(file);
    if (!size || position < 0 || static_cast<std::uint64_t>(position) > *size) {
        return 0;
    }
    return *size - static_cast<std::uint64_t>(position);
}

// Puts the rows of a top-down picture bottom-up (row 0 the bottom row).
void reverseRows(std::uint32_t* pixels, std::int32_t width, std::int32_t rows) {
    const auto w = static_cast<std::size_t>(width);
    for (std::int32_t top = 0, bottom = rows - 1; top < bottom; ++top, --bottom) {
        std::uint32_t* a = pixels + static_cast<std::size_t>(top) * w;
        std::uint32_t* b = pixels + static_cast<std::size_t>(bottom) * w;
        for (std::size_t x = 0; x < w; ++x) {
            std::swap(a[x], b[x]);
        }
    }
}

// Expands one 24-bit file row (blue, green, red per pixel) into pixel words.
void expandRow24(const std::uint8_t* row, std::int32_t width, std::uint32_t* out) {
    for (std::int32_t x = 0; x < width; ++x) {
        const std::uint8_t* p = row + static_cast<std::size_t>(x) * 3;
        out[x] = (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | std::uint32_t{p[0]};
    }
}

// Bit-field compression is read like uncompressed data only with the standard 32-bit masks,
// which sit right after the information header.
bool standardBitFields(std::FILE* file) {
    const long position = std::ftell(file);
    std::array<std::uint8_t, 12> masks{};
    const bool read = std::fseek(file, kBmpPixelOffset, SEEK_SET) == 0 &&
                      readExactly(file, masks.data(), masks.size());
    const bool restored = position >= 0 && std::fseek(file, position, SEEK_SET) == 0;
    return read && restored && platform::loadU32(&masks[0]) == 0x00FF0000u &&
           platform::loadU32(&masks[4]) == 0x0000FF00u &&
           platform::loadU32(&masks[8]) == 0x000000FFu;
}

}  // namespace

int ImageUtilWriteBMP(const std::string& path, std::int32_t width, std::int32_t height,
                      const std::uint32_t* pixels) {
    const std::uint64_t rows = static_cast<std::uint64_t>(std::llabs(std::int64_t{height}));
    const std::uint64_t dataBytes =
        width > 0 ? static_cast<std::uint64_t>(width) * rows * 4u : std::uint64_t{0};
    if (width <= 0 || rows == 0 || pixels == nullptr ||
        dataBytes + kBmpPixelOffset > std::uint64_t{0xFFFFFFFFu}) {
        debugPrintf("ImageUtilWriteBMP(): can't write a %d x %d image to %s!\n", width, height,
                    path.c_str());
        return 0;
    }

    platform::AtomicFileWriter file(path);
    if (!file.isOpen()) {
        debugPrintf("ImageUtilWriteBMP(): can't open file %s to write!\n", path.c_str());
        return 0;
    }

    BmpFileHeader fileHeader;
    fileHeader.size = static_cast<std::uint32_t>(kBmpPixelOffset + dataBytes);
    platform::ByteWriter fileBytes;
    serializeFileHeader(fileHeader, fileBytes);
    if (!file.write(fileBytes.bytes().data(), fileBytes.size())) {
        debugPrintf("ImageUtilWriteBMP() bitmapFILEheader write error!\n");
        return 0;
    }

    BmpInfoHeader infoHeader;
    infoHeader.width = width;
    infoHeader.height = height;  // a positive height stores the rows bottom-up, as in memory
    platform::ByteWriter infoBytes;
    serializeInfoHeader(infoHeader, infoBytes);
    if (!file.write(infoBytes.bytes().data(), infoBytes.size())) {
        debugPrintf("ImageUtilWriteBMP() bitmapINFOheader write error!\n");
        return 0;
    }

    // Words are stored little-endian, i.e. blue, green, red, top byte (byte_io asserts the host).
    if (!file.write(pixels, static_cast<std::size_t>(dataBytes))) {
        debugPrintf("ImageUtilWriteBMP() image data write error!\n");
        return 0;
    }
    if (!file.commit()) {
        debugPrintf("ImageUtilWriteBMP(): can't write file %s: %s!\n", path.c_str(),
                    file.error().c_str());
        return 0;
    }
    return 1;
}

int ImageUtilReadBMPHeader(const std::string& path, BmpHandle& handle, BmpFileHeader& fileHeader,
                           BmpInfoHeader& infoHeader) {
    std::string openError;
    handle.reset(platform::openRegularStream(path, openError));
    if (!handle) {
        debugPrintf("ImageUtilReadBMPHeader(): can't open file %s to read!\n", path.c_str());
        return 0;
    }

    std::array<std::uint8_t, kBmpFileHeaderSize> fileBytes{};
    if (!readExactly(handle.get(), fileBytes.data(), fileBytes.size())) {
        debugPrintf("ImageUtilReadBMPHeader(): bitmapFILEheader read error!\n");
        handle.reset();
        return 0;
    }
    fileHeader = parseFileHeader(fileBytes);
    if (fileHeader.type != kBmpFileType) {
        debugPrintf("ImageUtilReadBMPHeader(): file type ISN'T 'BM'!!\n");
        handle.reset();
        return 0;
    }

    std::array<std::uint8_t, kBmpInfoHeaderSize> infoBytes{};
    if (!readExactly(handle.get(), infoBytes.data(), infoBytes.size())) {
        debugPrintf("ImageUtilReadBMPHeader(): bitmapINFOheader read error!\n");
        handle.reset();
        return 0;
    }
    infoHeader = parseInfoHeader(infoBytes);
    if (infoHeader.size != kBmpInfoHeaderSize) {
        debugPrintf("ImageUtilReadBMPHeader(): larger BITMAPINFOHEADER!\n");
        handle.reset();
        return 0;
    }
    if (infoHeader.planes != 1) {
        debugPrintf("ImageUtilReadBMPHeader(): illegal # of planes!!\n");
        handle.reset();
        return 0;
    }
    if (!usableSize(infoHeader.width, infoHeader.height)) {
        debugPrintf("ImageUtilReadBMPHeader(): %s has an unusable size %d x %d!\n", path.c_str(),
                    infoHeader.width, infoHeader.height);
        handle.reset();
        return 0;
    }

    // Pixel data starts at the header's offset when that is plausible (colour tables and
    // bit-field masks sit before it), else right after the two headers.
    const auto size = openFileSize(handle.get());
    if (size && fileHeader.offBits > kBmpPixelOffset && fileHeader.offBits < *size) {
        if (std::fseek(handle.get(), static_cast<long>(fileHeader.offBits), SEEK_SET) != 0) {
            debugPrintf("ImageUtilReadBMPHeader(): can't seek in file %s!\n", path.c_str());
            handle.reset();
            return 0;
        }
    }
    return 1;
}

int ImageUtilReadBMPBits(std::FILE* handle, std::int32_t width, std::int32_t height,
                         std::span<std::uint32_t> pixels, int bitsPerPixel) {
    const auto w = static_cast<std::size_t>(width);
    const auto rows = static_cast<std::size_t>(height);
    if (width <= 0 || height <= 0 || pixels.size() / w < rows ||
        (bitsPerPixel != 24 && bitsPerPixel != 32)) {
        debugPrintf("ImageUtilReadBMPBits(): image data read error!\n");
        return 0;
    }
    if (bitsPerPixel == 32) {
        // 32-bit rows are unpadded little-endian words: read them in place.
        if (std::fread(pixels.data(), 4, w * rows, handle) != w * rows) {
            debugPrintf("ImageUtilReadBMPBits(): image data read error!\n");
            return 0;
        }
        return 1;
    }
    std::vector<std::uint8_t> row(static_cast<std::size_t>(bmpStride24(width)));
    for (std::size_t y = 0; y < rows; ++y) {
        if (!readExactly(handle, row.data(), row.size())) {
            debugPrintf("ImageUtilReadBMPBits(): image data read error!\n");
            return 0;
        }
        expandRow24(row.data(), width, pixels.data() + y * w);
    }
    return 1;
}

int ImageUtilLoadBMP(const std::string& path, std::unique_ptr<std::uint32_t[]>& pixels,
                     std::int32_t& width, std::int32_t& height) {
    pixels.reset();
    width = 0;
    height = 0;

    BmpHandle file;
    BmpFileHeader fileHeader;
    BmpInfoHeader info;
    if (!ImageUtilReadBMPHeader(path, file, fileHeader, info)) {
        return 0;
    }
    const bool topDown = info.height < 0;
    if (topDown) {
        debugPrintf("ImageUtilReadBMP() inverted bitmap!!\n");
    }
    const std::int32_t rows = absoluteHeight(info.height);

    const bool uncompressed =
        info.compression == kBmpCompressionNone && (info.bitCount == 24 || info.bitCount == 32);
    const bool bitFields = info.compression == kBmpCompressionBitFields && info.bitCount == 32 &&
                           standardBitFields(file.get());
    if (!uncompressed && !bitFields) {
        debugPrintf("ImageUtilReadBMPHeader(): given non-24/32-bit-truecolor file!\n");
        return 0;
    }

    // Refuse files too short for their declared pixels before allocating anything.
    const std::uint64_t stride =
        info.bitCount == 24 ? bmpStride24(info.width) : static_cast<std::uint64_t>(info.width) * 4u;
    if (stride * static_cast<std::uint64_t>(rows) > bytesLeft(file.get())) {
        debugPrintf("ImageUtilReadBMPBits(): image data read error!\n");
        return 0;
    }

    const std::size_t count = static_cast<std::size_t>(info.width) * static_cast<std::size_t>(rows);
    std::unique_ptr<std::uint32_t[]> buffer(new (std::nothrow) std::uint32_t[count]);
    if (!buffer) {
        debugPrintf("ImageUtilLoadBMP(): not enough memory for %s!\n", path.c_str());
        return 0;
    }
    if (!ImageUtilReadBMPBits(file.get(), info.width, rows, std::span(buffer.get(), count),
                              info.bitCount)) {
        return 0;
    }
    if (topDown) {
        reverseRows(buffer.get(), info.width, rows);
    }
    pixels = std::move(buffer);
    width = info.width;
    height = rows;
    return 1;
}

int ImageUtilReadBMP(const std::string& path, std::span<std::uint32_t> pixels,
                     std::int32_t* widthOut, std::int32_t* heightOut) {
    std::string openError;
    BmpHandle file(platform::openRegularStream(path, openError));
    if (!file) {
        debugPrintf("ImageUtilReadBMP(): can't open file %s to read!\n", path.c_str());
        return 0;
    }
    std::array<std::uint8_t, kBmpFileHeaderSize> fileBytes{};
    if (!readExactly(file.get(), fileBytes.data(), fileBytes.size())) {
        debugPrintf("ImageUtilReadBMP(): bitmapFILEheader read error!\n");
        return 0;
    }
    const BmpFileHeader fileHeader = parseFileHeader(fileBytes);
    if (fileHeader.type != kBmpFileType) {
        debugPrintf("ImageUtilReadBMP() file type ISN'T 'BM'!!\n");
        return 0;
    }
    std::array<std::uint8_t, kBmpInfoHeaderSize> infoBytes{};
    if (!readExactly(file.get(), infoBytes.data(), infoBytes.size())) {
        debugPrintf("ImageUtilReadBMP() bitmapINFOheader read error!\n");
        return 0;
    }
    const BmpInfoHeader info = parseInfoHeader(infoBytes);
    if (info.size != kBmpInfoHeaderSize) {
        debugPrintf("ImageUtilReadBMP() larger BITMAPINFOHEADER!\n");
        return 0;
    }
    if (info.planes != 1) {
        debugPrintf("ImageUtilReadBMP() illegal # of planes!!\n");
        return 0;
    }
    if (info.bitCount != 24 || info.compression != kBmpCompressionNone) {
        debugPrintf("ImageUtilReadBMP() given non-24-bit-truecolor file!\n");
        return 0;
    }
    if (!usableSize(info.width, info.height)) {
        debugPrintf("ImageUtilReadBMP(): %s has an unusable size %d x %d!\n", path.c_str(),
                    info.width, info.height);
        return 0;
    }
    const bool topDown = info.height < 0;
    if (topDown) {
        debugPrintf("ImageUtilReadBMP() inverted bitmap!!\n");
    }
    const std::int32_t rows = absoluteHeight(info.height);
    const std::uint64_t count =
        static_cast<std::uint64_t>(info.width) * static_cast<std::uint64_t>(rows);
    if (count > pixels.size()) {
        debugPrintf("ImageUtilReadBMP(): %s holds %d x %d pixels, more than the buffer's %zu!\n",
                    path.c_str(), info.width, rows, pixels.size());
        return 0;
    }

    const auto size = openFileSize(file.get());
    if (size && fileHeader.offBits > kBmpPixelOffset && fileHeader.offBits < *size &&
        std::fseek(file.get(), static_cast<long>(fileHeader.offBits), SEEK_SET) != 0) {
        debugPrintf("ImageUtilReadBMP(): can't seek in file %s!\n", path.c_str());
        return 0;
    }

    // Read everything first so that a short file leaves the caller's buffer untouched.
    const std::uint64_t stride = bmpStride24(info.width);
    const std::uint64_t dataBytes = stride * static_cast<std::uint64_t>(rows);
    if (dataBytes > bytesLeft(file.get())) {
        debugPrintf("bmpReadBMPfile() image data read error!\n");
        return 0;
    }
    std::vector<std::uint8_t> data(static_cast<std::size_t>(dataBytes));
    if (!readExactly(file.get(), data.data(), data.size())) {
        debugPrintf("bmpReadBMPfile() image data read error!\n");
        return 0;
    }
    const auto w = static_cast<std::size_t>(info.width);
    for (std::int32_t y = 0; y < rows; ++y) {
        const std::int32_t target = topDown ? rows - 1 - y : y;
        expandRow24(data.data() + static_cast<std::size_t>(y) * stride, info.width,
                    pixels.data() + static_cast<std::size_t>(target) * w);
    }
    if (widthOut != nullptr) {
        *widthOut = info.width;
    }
    if (heightOut != nullptr) {
        *heightOut = rows;
    }
    return 1;
}

}  // namespace strata::imageutil
