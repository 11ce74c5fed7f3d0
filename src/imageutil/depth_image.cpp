#include "imageutil/depth_image.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "imageutil/png_file.h"
#include "imageutil/rgb_image.h"
#include "platform/byte_io.h"
#include "platform/debug_output.h"
#include "platform/file_io.h"

namespace strata::imageutil {
namespace {

constexpr float kNone = std::numeric_limits<float>::infinity();
// Largest depth file read: a PFM of the largest image PNG and PFM readers accept.
constexpr std::uint64_t kMaxDepthFileBytes = kMaxImagePixels * 4 + 4096;

bool hasSuffix(const std::string& path, const char* suffix) {
    const std::size_t n = std::strlen(suffix);
    if (path.size() < n) {
        return false;
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (std::tolower(static_cast<unsigned char>(path[path.size() - n + i])) != suffix[i]) {
            return false;
        }
    }
    return true;
}

bool isPngBytes(std::span<const std::uint8_t> bytes) {
    static constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return bytes.size() >= 8 && std::memcmp(bytes.data(), kSignature, 8) == 0;
}

bool isPfmBytes(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= 2 && bytes[0] == 'P' && (bytes[1] == 'f' || bytes[1] == 'F');
}

bool isSpace(std::uint8_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The pixel's place as image viewers show it: column from the left, row from the top.
std::string placeOf(const DepthImage& image, std::size_t index) {
    const auto width = static_cast<std::size_t>(image.width);
    return platform::formatString("column %zu, row %zu from the top", index % width,
                                  static_cast<std::size_t>(image.height) - 1 - index / width);
}

// Skips whitespace from `at`, then reads one whitespace-free token (at most 64 bytes).
std::string_view token(std::span<const std::uint8_t> bytes, std::size_t& at) {
    while (at < bytes.size() && isSpace(bytes[at])) {
        ++at;
    }
    const std::size_t start = at;
    while (at < bytes.size() && !isSpace(bytes[at]) && at - start < 64) {
        ++at;
    }
    return {reinterpret_cast<const char*>(bytes.data() + start), at - start};
}

bool parseSide(std::string_view text, std::int32_t& side) {
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    std::int64_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    if (value < 1 || value > kMaxPfmSide) {
        return false;
    }
    side = static_cast<std::int32_t>(value);
    return true;
}

bool decodePfm(const std::string& path, std::span<const std::uint8_t> bytes, DepthImage& image,
               std::string& error) {
    if (!isPfmBytes(bytes) || bytes.size() < 3 || !isSpace(bytes[2])) {
        error = path + ": not a PFM file (it does not start with \"Pf\")";
        return false;
    }
    if (bytes[1] == 'F') {
        error = path + ": a colour PFM file (\"PF\"); a depth map has one channel (\"Pf\")";
        return false;
    }
    std::size_t at = 2;
    std::int32_t width = 0;
    std::int32_t height = 0;
    const std::string_view widthText = token(bytes, at);
    const std::string_view heightText = token(bytes, at);
    if (!parseSide(widthText, width) || !parseSide(heightText, height)) {
        error = platform::formatString(
            "%s: the PFM size \"%.*s %.*s\" is not two whole numbers 1..%d", path.c_str(),
            static_cast<int>(widthText.size()), widthText.data(),
            static_cast<int>(heightText.size()), heightText.data(), kMaxPfmSide);
        return false;
    }
    const std::string_view scaleText = token(bytes, at);
    double scale = 0.0;
    const auto parsed =
        std::from_chars(scaleText.data(), scaleText.data() + scaleText.size(), scale);
    if (scaleText.empty() || parsed.ec != std::errc() ||
        parsed.ptr != scaleText.data() + scaleText.size() || !std::isfinite(scale) ||
        scale == 0.0) {
        error = platform::formatString("%s: the PFM scale \"%.*s\" is not a finite non-zero number",
                                       path.c_str(), static_cast<int>(scaleText.size()),
                                       scaleText.data());
        return false;
    }
    if (at >= bytes.size() || !isSpace(bytes[at])) {
        error = path + ": the PFM header does not end in one whitespace byte";
        return false;
    }
    ++at;
    const std::uint64_t pixels =
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    if (pixels > kMaxImagePixels) {
        error =
            platform::formatString("%s: a %dx%d PFM image is larger than %llu pixels", path.c_str(),
                                   width, height, static_cast<unsigned long long>(kMaxImagePixels));
        return false;
    }
    const std::uint64_t expected = pixels * 4;
    const std::uint64_t held = bytes.size() - at;
    if (held != expected) {
        error = platform::formatString(
            "%s: the %dx%d PFM image needs %llu bytes of pixel data, the file holds %llu",
            path.c_str(), width, height, static_cast<unsigned long long>(expected),
            static_cast<unsigned long long>(held));
        return false;
    }
    DepthImage decoded;
    decoded.width = width;
    decoded.height = height;
    decoded.depth.resize(static_cast<std::size_t>(pixels));
    const std::uint8_t* data = bytes.data() + at;
    const bool littleEndian = scale < 0.0;
    for (std::size_t i = 0; i < decoded.depth.size(); ++i) {
        const float v =
            littleEndian ? platform::loadF32(data + 4 * i) : platform::loadF32BE(data + 4 * i);
        if (std::isnan(v) || v < 0.0f) {
            error = platform::formatString(
                "%s: %s holds depth %g (depths must be positive; 0 or infinity where there is no "
                "surface)",
                path.c_str(), placeOf(decoded, i).c_str(), static_cast<double>(v));
            return false;
        }
        decoded.depth[i] = v == 0.0f ? kNone : v;
    }
    image = std::move(decoded);
    return true;
}

bool decodePng16(const std::string& path, std::span<const std::uint8_t> bytes, double scale,
                 DepthImage& image, std::string& error) {
    DepthImage decoded;
    std::vector<std::uint16_t> values;
    if (!decodePngGrey16Bytes(path, bytes, decoded.width, decoded.height, values, &error)) {
        return false;
    }
    decoded.depth.resize(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        decoded.depth[i] =
            values[i] == 0 ? kNone : static_cast<float>(static_cast<double>(values[i]) / scale);
    }
    image = std::move(decoded);
    return true;
}

}  // namespace

DepthFormat depthFormatOf(const std::string& path) {
    return hasSuffix(path, ".pfm") ? DepthFormat::pfm : DepthFormat::png16;
}

std::string depthImageProblem(const DepthImage& image, DepthFormat format, double scale) {
    if (image.width < 1 || image.height < 1 ||
        image.depth.size() !=
            static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height)) {
        return "the depth image has no pixels";
    }
    float deepest = 0.0f;
    std::size_t bad = image.depth.size();
    for (std::size_t i = 0; i < image.depth.size(); ++i) {
        const float d = image.depth[i];
        if (std::isnan(d) || d < 0.0f) {
            return platform::formatString("%s holds depth %g, which no depth map can store",
                                          placeOf(image, i).c_str(), static_cast<double>(d));
        }
        if (format == DepthFormat::png16 && std::isfinite(d)) {
            deepest = std::max(deepest, d);
            const double units = std::round(static_cast<double>(d) * scale);
            if (bad == image.depth.size() && (units < 1.0 || units > kMaxDepthUnits)) {
                bad = i;
            }
        }
    }
    if (bad == image.depth.size()) {
        return {};
    }
    const double d = image.depth[bad];
    const double units = std::round(d * scale);
    if (units < 1.0) {
        return platform::formatString(
            "%s: depth %g is %g units at depth scale %g, and 0 means no surface; use a larger "
            "--depth-scale or a .pfm file",
            placeOf(image, bad).c_str(), d, units, scale);
    }
    return platform::formatString(
        "%s: depth %g is %.0f units at depth scale %g, beyond %u; use --depth-scale %g or less, "
        "or a .pfm file",
        placeOf(image, bad).c_str(), d, units, scale, kMaxDepthUnits,
        std::floor((kMaxDepthUnits + 0.49) / static_cast<double>(deepest)));
}

std::vector<std::uint8_t> encodePfm(const DepthImage& image) {
    const std::string header = platform::formatString("Pf\n%d %d\n-1\n", image.width, image.height);
    std::vector<std::uint8_t> bytes(header.begin(), header.end());
    bytes.resize(header.size() + image.depth.size() * 4);
    std::uint8_t* out = bytes.data() + header.size();
    for (std::size_t i = 0; i < image.depth.size(); ++i) {
        platform::storeF32(out + 4 * i, image.depth[i]);
    }
    return bytes;
}

bool writeDepthImage(const std::string& path, const DepthImage& image, double scale,
                     std::string& error) {
    const DepthFormat format = depthFormatOf(path);
    if (format == DepthFormat::png16 && !(std::isfinite(scale) && scale > 0.0)) {
        error = path + ": the depth scale must be a positive number";
        return false;
    }
    const std::string problem = depthImageProblem(image, format, scale);
    if (!problem.empty()) {
        error = path + ": " + problem;
        return false;
    }
    if (format == DepthFormat::png16) {
        std::vector<std::uint16_t> values(image.depth.size());
        for (std::size_t i = 0; i < values.size(); ++i) {
            const float d = image.depth[i];
            values[i] = std::isfinite(d)
                            ? static_cast<std::uint16_t>(std::round(static_cast<double>(d) * scale))
                            : std::uint16_t{0};
        }
        return writePngGrey16(path, image.width, image.height, values, &error);
    }
    const std::vector<std::uint8_t> bytes = encodePfm(image);
    platform::AtomicFileWriter file(path);
    if (!file.isOpen() || !file.write(bytes.data(), bytes.size()) || !file.commit()) {
        error = path + ": " + (file.error().empty() ? "cannot write the file" : file.error());
        return false;
    }
    return true;
}

bool decodeDepthBytes(const std::string& path, std::span<const std::uint8_t> bytes, double scale,
                      DepthImage& image, std::string& error) {
    if (!(std::isfinite(scale) && scale > 0.0)) {
        error = path + ": the depth scale must be a positive number";
        return false;
    }
    const bool namedPfm = hasSuffix(path, ".pfm");
    const bool namedPng = hasSuffix(path, ".png");
    if (namedPfm || (!namedPng && isPfmBytes(bytes))) {
        if (namedPfm && isPngBytes(bytes)) {
            error = path + ": not a PFM file (it holds a PNG picture)";
            return false;
        }
        return decodePfm(path, bytes, image, error);
    }
    if (namedPng && isPfmBytes(bytes)) {
        error = path + ": not a PNG file (it holds a PFM image)";
        return false;
    }
    return decodePng16(path, bytes, scale, image, error);
}

bool readDepthImage(const std::string& path, double scale, DepthImage& image, std::string& error) {
    std::vector<std::uint8_t> bytes;
    std::string problem;
    if (!platform::readWholeFile(path, bytes, problem, kMaxDepthFileBytes)) {
        error = path + ": " + problem;
        return false;
    }
    return decodeDepthBytes(path, bytes, scale, image, error);
}

}  // namespace strata::imageutil
