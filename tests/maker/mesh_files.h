// Small mesh files with known colours, written by the tests themselves: PLY (ASCII and binary),
// OBJ with MTL materials and a PNG texture, and GLB with an embedded PNG texture.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "imageutil/png_file.h"
#include "imageutil/rgb_image.h"

namespace strata::maker::testing {

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A PNG of `rows` given top row first, each row `width` words 0x00RRGGBB.
inline std::string pngBytes(const std::string& scratchPath, std::int32_t width,
                            const std::vector<std::vector<std::uint32_t>>& rows) {
    const auto height = static_cast<std::int32_t>(rows.size());
    imageutil::RgbImage image = imageutil::RgbImage::createOwned(width, height);
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            // RgbImage row 0 is the bottom row of the picture.
            image.at(x, height - 1 - y) =
                rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)];
        }
    }
    imageutil::writePng(scratchPath, image);
    return readFile(scratchPath);
}

// Little-endian binary values appended to a string.
template <typename T>
void put(std::string& out, T value) {
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    out.append(bytes, sizeof(T));
}

template <typename T>
void putBigEndian(std::string& out, T value) {
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    for (std::size_t i = sizeof(T); i-- > 0;) {
        out.push_back(bytes[i]);
    }
}

// A GLB holding one square x, y in [-1, 1] at z = 0 facing +z, texture coordinates (0, 0) at
// the top-left corner as glTF has them, whose base colour is the embedded PNG `png`, clamped.
inline std::string glbWithTexture(const std::string& png) {
    std::string buffer;
    const float positions[12] = {-1, -1, 0, 1, -1, 0, 1, 1, 0, -1, 1, 0};
    const float uvs[8] = {0, 1, 1, 1, 1, 0, 0, 0};
    const std::uint16_t indices[6] = {0, 1, 2, 0, 2, 3};
    for (float p : positions) {
        put(buffer, p);
    }
    for (float t : uvs) {
        put(buffer, t);
    }
    for (std::uint16_t i : indices) {
        put(buffer, i);
    }
    const std::size_t imageOffset = buffer.size();
    buffer += png;
    while (buffer.size() % 4 != 0) {
        buffer.push_back('\0');
    }
    std::string json =
        R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}],)"
        R"("meshes":[{"primitives":[{"attributes":{"POSITION":0,"TEXCOORD_0":1},"indices":2,)"
        R"("material":0}]}],"materials":[{"pbrMetallicRoughness":{"baseColorTexture":)"
        R"({"index":0}}}],"textures":[{"source":0,"sampler":0}],)"
        R"("samplers":[{"wrapS":33071,"wrapT":33071}],)"
        R"("images":[{"bufferView":3,"mimeType":"image/png"}],"accessors":[)"
        R"({"bufferView":0,"componentType":5126,"count":4,"type":"VEC3","min":[-1,-1,0],)"
        R"("max":[1,1,0]},{"bufferView":1,"componentType":5126,"count":4,"type":"VEC2"},)"
        R"({"bufferView":2,"componentType":5123,"count":6,"type":"SCALAR"}],"bufferViews":[)"
        R"({"buffer":0,"byteOffset":0,"byteLength":48},{"buffer":0,"byteOffset":48,)"
        R"("byteLength":32},{"buffer":0,"byteOffset":80,"byteLength":12},{"buffer":0,)"
        R"("byteOffset":)" +
        std::to_string(imageOffset) + R"(,"byteLength":)" + std::to_string(png.size()) +
        R"(}],"buffers":[{"byteLength":)" + std::to_string(buffer.size()) + "}]}";
    while (json.size() % 4 != 0) {
        json.push_back(' ');
    }
    std::string glb;
    put<std::uint32_t>(glb, 0x46546C67u);  // "glTF"
    put<std::uint32_t>(glb, 2);
    put<std::uint32_t>(glb, static_cast<std::uint32_t>(12 + 8 + json.size() + 8 + buffer.size()));
    put<std::uint32_t>(glb, static_cast<std::uint32_t>(json.size()));
    put<std::uint32_t>(glb, 0x4E4F534Au);  // "JSON"
    glb += json;
    put<std::uint32_t>(glb, static_cast<std::uint32_t>(buffer.size()));
    put<std::uint32_t>(glb, 0x004E4942u);  // "BIN"
    glb += buffer;
    return glb;
}

}  // namespace strata::maker::testing
