#include "maker/texture.h"

#include <stb_image.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/debug_output.h"
#include "platform/file_io.h"

namespace strata::maker {

const std::array<float, 256>& linearOfByte() {
    static const std::array<float, 256> table = [] {
        std::array<float, 256> values{};
        for (int i = 0; i < 256; ++i) {
            values[static_cast<std::size_t>(i)] = srgbToLinear(static_cast<float>(i) / 255.0f);
        }
        return values;
    }();
    return table;
}

namespace {

// Folds a coordinate into 0..1 by the wrap mode.
float fold(float t, TextureWrap wrap) {
    if (!std::isfinite(t)) {
        return 0.0f;
    }
    switch (wrap) {
        case TextureWrap::clamp:
            return std::clamp(t, 0.0f, 1.0f);
        case TextureWrap::mirror: {
            const float period = t - 2.0f * std::floor(t * 0.5f);  // 0..2
            return period > 1.0f ? 2.0f - period : period;
        }
        case TextureWrap::repeat:
            break;
    }
    return t - std::floor(t);
}

// Texel index i (may be -1 or size) brought inside 0..size-1: around for repeat, else held at
// the edge (a mirrored coordinate repeats the edge texel, as a mirror does).
std::int32_t texelIndex(std::int32_t i, std::int32_t size, TextureWrap wrap) {
    if (wrap == TextureWrap::repeat) {
        return (i % size + size) % size;
    }
    return std::clamp(i, 0, size - 1);
}

bool isPng(std::span<const std::uint8_t> bytes) {
    static constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return bytes.size() >= 8 && std::memcmp(bytes.data(), kSignature, 8) == 0;
}

bool isJpeg(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF;
}

}  // namespace

float srgbToLinear(float encoded) {
    return encoded <= 0.04045f ? encoded / 12.92f : std::pow((encoded + 0.055f) / 1.055f, 2.4f);
}

float linearToSrgb(float linear) {
    return linear <= 0.0031308f ? linear * 12.92f : 1.055f * std::pow(linear, 1.0f / 2.4f) - 0.055f;
}

Colour sampleTexture(const Texture& texture, float u, float v) {
    const std::int32_t w = texture.width;
    const std::int32_t h = texture.height;
    // Texel space: x along the columns, y down the rows from the top, centres at i + 0.5.
    const float x = fold(u, texture.wrapU) * static_cast<float>(w) - 0.5f;
    const float y = (1.0f - fold(v, texture.wrapV)) * static_cast<float>(h) - 0.5f;
    const float x0 = std::floor(x);
    const float y0 = std::floor(y);
    const float fx = x - x0;
    const float fy = y - y0;
    const auto ix = static_cast<std::int32_t>(x0);
    const auto iy = static_cast<std::int32_t>(y0);
    const std::int32_t columns[2] = {texelIndex(ix, w, texture.wrapU),
                                     texelIndex(ix + 1, w, texture.wrapU)};
    const std::int32_t rows[2] = {texelIndex(iy, h, texture.wrapV),
                                  texelIndex(iy + 1, h, texture.wrapV)};
    const float weights[2][2] = {{(1.0f - fx) * (1.0f - fy), fx * (1.0f - fy)},
                                 {(1.0f - fx) * fy, fx * fy}};
    const std::array<float, 256>& linear = linearOfByte();
    float sum[3] = {0.0f, 0.0f, 0.0f};
    for (int r = 0; r < 2; ++r) {
        for (int c = 0; c < 2; ++c) {
            const std::size_t at =
                (static_cast<std::size_t>(rows[r]) * static_cast<std::size_t>(w) +
                 static_cast<std::size_t>(columns[c])) *
                3;
            for (std::size_t k = 0; k < 3; ++k) {
                sum[k] += weights[r][c] * linear[texture.rgb[at + k]];
            }
        }
    }
    // The nearest 8-bit value, placed mid-step (255 itself at 1) so truncating conversions keep
    // it.
    const auto encode = [](float value) {
        const float byte = std::round(linearToSrgb(std::clamp(value, 0.0f, 1.0f)) * 255.0f);
        return std::min(byte + 0.5f, 255.0f) / 255.0f;
    };
    return {encode(sum[0]), encode(sum[1]), encode(sum[2])};
}

bool decodeTexture(std::span<const std::uint8_t> bytes, const std::string& name, Texture& texture,
                   std::string& error) {
    if (!isPng(bytes) && !isJpeg(bytes)) {
        error = name + ": not a PNG or JPEG picture";
        return false;
    }
    if (static_cast<std::int64_t>(bytes.size()) > kMaxTextureFileBytes) {
        error = platform::formatString("%s: more than %lld bytes", name.c_str(),
                                       static_cast<long long>(kMaxTextureFileBytes));
        return false;
    }
    const int length = static_cast<int>(bytes.size());
    int width = 0;
    int height = 0;
    int channels = 0;
    if (stbi_info_from_memory(bytes.data(), length, &width, &height, &channels) == 0) {
        error = platform::formatString("%s: the picture cannot be decoded (%s)", name.c_str(),
                                       stbi_failure_reason());
        return false;
    }
    if (width < 1 || height < 1 || width > kMaxTextureSide || height > kMaxTextureSide ||
        static_cast<std::int64_t>(width) * height > kMaxTexturePixels) {
        error = platform::formatString(
            "%s: picture size %dx%d out of range (1..%d a side, %lld "
            "texels)",
            name.c_str(), width, height, kMaxTextureSide,
            static_cast<long long>(kMaxTexturePixels));
        return false;
    }
    const std::unique_ptr<stbi_uc, void (*)(void*)> pixels(
        stbi_load_from_memory(bytes.data(), length, &width, &height, &channels, 3),
        stbi_image_free);
    if (!pixels) {
        error = platform::formatString("%s: the picture cannot be decoded (%s)", name.c_str(),
                                       stbi_failure_reason());
        return false;
    }
    texture.width = width;
    texture.height = height;
    texture.rgb.assign(pixels.get(), pixels.get() + static_cast<std::size_t>(width) *
                                                        static_cast<std::size_t>(height) * 3);
    return true;
}

bool readTextureFile(const std::string& path, Texture& texture, std::string& error) {
    std::vector<std::uint8_t> bytes;
    std::string problem;
    if (!platform::readWholeFile(path, bytes, problem,
                                 static_cast<std::uint64_t>(kMaxTextureFileBytes))) {
        error = path + ": " + problem;
        return false;
    }
    return decodeTexture(bytes, path, texture, error);
}

}  // namespace strata::maker
