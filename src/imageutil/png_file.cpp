// PNG encoding and decoding through libpng in memory. libpng reports errors by long-jumping out
// of its calls, so the coding functions hold only objects made before setjmp and untouched after
// it; the file itself is read and written with the platform helpers.
#include "imageutil/png_file.h"

#include <png.h>

#include <algorithm>
#include <cctype>
#include <csetjmp>
#include <cstring>
#include <span>
#include <vector>

#include "imageutil/bmp_file.h"
#include "platform/debug_output.h"
#include "platform/file_io.h"

namespace strata::imageutil {
namespace {

// Largest side accepted from a PNG file (matches the BMP reader).
constexpr png_uint_32 kPngMaxSide = static_cast<png_uint_32>(kBmpMaxSide);

bool report(std::string* error, std::string message) {
    if (error != nullptr) {
        *error = std::move(message);
    } else {
        platform::debugPrintf("%s\n", message.c_str());
    }
    return false;
}

// libpng error hook: keep the text, then leave through the jump buffer set by the caller.
[[noreturn]] void pngError(png_structp png, png_const_charp message) {
    auto* text = static_cast<std::string*>(png_get_error_ptr(png));
    if (text != nullptr) {
        *text = message;
    }
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

void appendBytes(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void flushNothing(png_structp) {}

struct MemoryInput {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t position = 0;
};

void readBytes(png_structp png, png_bytep data, png_size_t length) {
    auto* in = static_cast<MemoryInput*>(png_get_io_ptr(png));
    if (length > in->size - in->position) {
        png_error(png, "file ends early");
    }
    std::memcpy(data, in->data + in->position, length);
    in->position += length;
}

// Encodes rows given top row first. Returns false with libpng's message in `message`.
bool encodePng(std::uint32_t width, std::uint32_t height, std::vector<png_bytep>& rows,
               std::vector<std::uint8_t>& out, std::string& message) {
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &message, pngError, pngWarning);
    if (png == nullptr) {
        message = "cannot start the PNG encoder";
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        message = "cannot start the PNG encoder";
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &out, appendBytes, flushNothing);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

// What the chunk walk learns before any decoding.
struct PngOutline {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint64_t idatBytes = 0;
    std::uint64_t rawBytes = 0;  // the filtered image data the IDAT stream must inflate to
};

std::uint32_t bigEndian32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 |
           std::uint32_t{p[3]};
}

// Walks the chunk list of a PNG held in memory (signature already checked): every chunk must
// lie inside the file, the first must be a sound IHDR, and the IDAT data must be able to inflate
// to the image the header declares (deflate expands at most 1032 to 1). Returns "" or the
// problem, so that nothing is allocated for a size the file cannot hold.
std::string outlinePng(std::span<const std::uint8_t> bytes, PngOutline& outline) {
    std::size_t position = 8;
    bool first = true;
    while (true) {
        if (bytes.size() - position < 8) {
            return "file ends inside a chunk header";
        }
        const std::uint32_t length = bigEndian32(bytes.data() + position);
        const std::string type(reinterpret_cast<const char*>(bytes.data() + position + 4), 4);
        if (length > 0x7FFFFFFFu || std::uint64_t{length} + 12 > bytes.size() - position) {
            return platform::formatString(
                "chunk %s at offset %zu claims %u bytes, the file holds %zu after it",
                std::all_of(type.begin(), type.end(),
                            [](char c) { return std::isalpha(static_cast<unsigned char>(c)); })
                    ? type.c_str()
                    : "?",
                position, length, bytes.size() - position - 8);
        }
        const std::uint8_t* data = bytes.data() + position + 8;
        if (first) {
            if (type != "IHDR" || length != 13) {
                return "the first chunk is not a 13-byte IHDR";
            }
            outline.width = bigEndian32(data);
            outline.height = bigEndian32(data + 4);
            const int depth = data[8];
            const int colourType = data[9];
            const int channels = colourType == 0   ? 1
                                 : colourType == 2 ? 3
                                 : colourType == 3 ? 1
                                 : colourType == 4 ? 2
                                 : colourType == 6 ? 4
                                                   : 0;
            if (channels == 0 || depth == 0 || depth > 16) {
                return "unsupported IHDR colour type or bit depth";
            }
            if (outline.width == 0 || outline.height == 0 || outline.width > kPngMaxSide ||
                outline.height > kPngMaxSide) {
                return platform::formatString("image size %ux%u outside 1..%u on a side",
                                              outline.width, outline.height, kPngMaxSide);
            }
            const std::uint64_t rowBytes =
                (std::uint64_t{outline.width} * static_cast<std::uint64_t>(channels * depth) + 7) /
                8;
            // Interlaced images add at most a filter byte per row of each of the seven passes.
            outline.rawBytes = std::uint64_t{outline.height} * (rowBytes + 1);
            first = false;
        } else if (type == "IDAT") {
            outline.idatBytes += length;
        }
        position += std::size_t{length} + 12;
        if (type == "IEND") {
            break;
        }
    }
    constexpr std::uint64_t kMaxInflate = 1032;
    if (outline.rawBytes > kMaxInflate * outline.idatBytes + 1024) {
        return platform::formatString(
            "the %ux%u image needs %llu bytes of image data but the file holds only %llu "
            "compressed bytes",
            outline.width, outline.height, static_cast<unsigned long long>(outline.rawBytes),
            static_cast<unsigned long long>(outline.idatBytes));
    }
    return {};
}

// Decodes into 8-bit RGB rows, top row first. `pixels` receives width x height x 3 bytes.
bool decodePng(MemoryInput& input, std::uint32_t& width, std::uint32_t& height,
               std::vector<std::uint8_t>& pixels, std::vector<png_bytep>& rows,
               std::string& message) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &message, pngError, pngWarning);
    if (png == nullptr) {
        message = "cannot start the PNG decoder";
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        message = "cannot start the PNG decoder";
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &input, readBytes);
    png_set_user_limits(png, kPngMaxSide, kPngMaxSide);
    // No chunk can need a larger buffer than the file itself.
    png_set_chunk_malloc_max(png, std::max<png_alloc_size_t>(input.size, 1));
    png_set_chunk_cache_max(png, 128);
    png_read_info(png, info);
    width = png_get_image_width(png, info);
    height = png_get_image_height(png, info);
    if (width == 0 || height == 0 ||
        std::uint64_t{width} * std::uint64_t{height} > kMaxImagePixels) {
        png_error(png, "unusable image size");
    }
    const png_byte colourType = png_get_color_type(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_strip_alpha(png);
    if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA) {
        png_set_gray_to_rgb(png);
    }
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != std::size_t{width} * 3) {
        png_error(png, "unexpected row layout");
    }
    pixels.resize(std::size_t{width} * height * 3);
    rows.resize(height);
    for (std::uint32_t y = 0; y < height; ++y) {
        rows[y] = pixels.data() + std::size_t{y} * width * 3;
    }
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

bool endsWithBmp(const std::string& path) {
    return platform::hasExtension(path, "bmp");
}

}  // namespace

bool writePng(const std::string& path, const RgbImage& image, std::string* error) {
    if (image.empty()) {
        return report(error, "cannot write " + path + ": the image has no pixels");
    }
    const auto width = static_cast<std::size_t>(image.width);
    const auto height = static_cast<std::size_t>(image.height);

    // File rows run top to bottom; image row 0 is the bottom row.
    std::vector<std::uint8_t> rgb(width * height * 3);
    std::vector<png_bytep> rows(height);
    for (std::size_t fileRow = 0; fileRow < height; ++fileRow) {
        const std::uint32_t* source = image.pixels + (height - 1 - fileRow) * width;
        std::uint8_t* out = rgb.data() + fileRow * width * 3;
        for (std::size_t x = 0; x < width; ++x) {
            out[x * 3 + 0] = static_cast<std::uint8_t>(source[x] >> 16);
            out[x * 3 + 1] = static_cast<std::uint8_t>(source[x] >> 8);
            out[x * 3 + 2] = static_cast<std::uint8_t>(source[x]);
        }
        rows[fileRow] = out;
    }

    std::vector<std::uint8_t> encoded;
    std::string message;
    if (!encodePng(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), rows,
                   encoded, message)) {
        return report(error, "cannot encode " + path + ": " + message);
    }

    platform::AtomicFileWriter file(path);
    if (!file.isOpen()) {
        return report(error, "cannot open " + path + " to write: " + file.error());
    }
    if (!file.write(encoded.data(), encoded.size()) || !file.commit()) {
        return report(error, "cannot write " + path + ": " + file.error());
    }
    return true;
}

bool readPng(const std::string& path, RgbImage& image, std::string* error,
             std::int32_t expectedWidth, std::int32_t expectedHeight) {
    std::vector<std::uint8_t> bytes;
    std::string readError;
    if (!platform::readWholeFile(path, bytes, readError)) {
        return report(error, "cannot read " + path + ": " + readError);
    }
    return decodePngBytes(path, bytes, image, error, expectedWidth, expectedHeight);
}

bool decodePngBytes(const std::string& path, std::span<const std::uint8_t> bytes, RgbImage& image,
                    std::string* error, std::int32_t expectedWidth, std::int32_t expectedHeight) {
    if (bytes.size() < 8 || png_sig_cmp(bytes.data(), 0, 8) != 0) {
        return report(error, "cannot read " + path + ": not a PNG file");
    }
    PngOutline outline;
    const std::string problem = outlinePng(bytes, outline);
    if (!problem.empty()) {
        return report(error, "cannot read " + path + ": " + problem);
    }
    if (expectedWidth > 0 && expectedHeight > 0 &&
        (outline.width != static_cast<std::uint32_t>(expectedWidth) ||
         outline.height != static_cast<std::uint32_t>(expectedHeight))) {
        return report(error, platform::formatString("%s is %ux%u, the frame %dx%d", path.c_str(),
                                                    outline.width, outline.height, expectedWidth,
                                                    expectedHeight));
    }

    MemoryInput input{bytes.data(), bytes.size(), 0};
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> rgb;
    std::vector<png_bytep> rows;
    std::string message;
    if (!decodePng(input, width, height, rgb, rows, message)) {
        return report(error, "cannot read " + path + ": " + message);
    }

    RgbImage decoded =
        RgbImage::createOwned(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height));
    if (decoded.empty()) {
        return report(error, "cannot read " + path + ": unusable image size");
    }
    for (std::uint32_t fileRow = 0; fileRow < height; ++fileRow) {
        const std::uint8_t* in = rgb.data() + std::size_t{fileRow} * width * 3;
        const auto y = static_cast<int>(height - 1 - fileRow);
        for (std::uint32_t x = 0; x < width; ++x) {
            decoded.at(static_cast<int>(x), y) =
                RgbImage::packColour(in[x * 3 + 0], in[x * 3 + 1], in[x * 3 + 2]);
        }
    }
    image = std::move(decoded);
    return true;
}

bool writeImageFile(const std::string& path, const RgbImage& image, std::string* error) {
    if (!endsWithBmp(path)) {
        return writePng(path, image, error);
    }
    if (image.empty()) {
        return report(error, "cannot write " + path + ": the image has no pixels");
    }
    if (ImageUtilWriteBMP(path, image.width, image.height, image.pixels) != 1) {
        if (error != nullptr) {
            *error = "cannot write BMP file " + path;
        }
        return false;
    }
    return true;
}

}  // namespace strata::imageutil
