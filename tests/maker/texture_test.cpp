// Texture sampling against closed forms (sRGB mixing in linear light, wrap modes, texel
// centres), picture decoding refusals, and the bounded PLY face-colour reader on damaged files.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "maker/ply_face_colours.h"
#include "maker/texture.h"
#include "maker_test_util.h"
#include "mesh_files.h"

namespace strata::maker {
namespace {

// What the pipeline writes for a colour channel: truncate(c * 255).
int byteOf(float c) {
    return static_cast<int>(c * 255.0f);
}

Texture texture(std::int32_t width, std::int32_t height, std::vector<std::uint8_t> rgb,
                TextureWrap wrap = TextureWrap::repeat) {
    Texture t;
    t.name = "test";
    t.width = width;
    t.height = height;
    t.rgb = std::move(rgb);
    t.wrapU = wrap;
    t.wrapV = wrap;
    return t;
}

TEST(Texture, SrgbTransferFunctionsMatchTheirClosedForms) {
    EXPECT_FLOAT_EQ(srgbToLinear(0.0f), 0.0f);
    EXPECT_FLOAT_EQ(srgbToLinear(1.0f), 1.0f);
    EXPECT_NEAR(srgbToLinear(0.04045f), 0.04045f / 12.92f, 1e-7f);
    // 128 / 255 -> ((128/255 + 0.055) / 1.055)^2.4 = 0.2158605
    EXPECT_NEAR(srgbToLinear(128.0f / 255.0f), 0.2158605f, 1e-6f);
    EXPECT_NEAR(linearToSrgb(0.5f), 0.7353570f, 1e-6f);
    EXPECT_NEAR(linearToSrgb(0.001f), 0.01292f, 1e-7f);
    for (int i = 0; i <= 255; ++i) {
        const float c = static_cast<float>(i) / 255.0f;
        EXPECT_NEAR(linearToSrgb(srgbToLinear(c)), c, 2e-6f) << i;
    }
}

TEST(Texture, BlackAndWhiteMixHalfwayInLinearLight) {
    // Texel centres at u = 0.25 and 0.75; halfway between them the mix is linear 0.5, which is
    // sRGB 1.055 * 0.5^(1/2.4) - 0.055 = 0.735357, byte 187.52 -> 188 (not 127 or 128).
    const Texture t = texture(2, 1, {0, 0, 0, 255, 255, 255}, TextureWrap::clamp);
    const Colour mid = sampleTexture(t, 0.5f, 0.5f);
    EXPECT_EQ(byteOf(mid.r), 188);
    EXPECT_EQ(byteOf(mid.g), 188);
    EXPECT_EQ(byteOf(mid.b), 188);
    // A quarter of the way: linear 0.25 -> sRGB 0.537099, byte 136.96 -> 137.
    EXPECT_EQ(byteOf(sampleTexture(t, 0.375f, 0.5f).r), 137);
    // At the texel centres: the texels themselves.
    EXPECT_EQ(byteOf(sampleTexture(t, 0.25f, 0.5f).r), 0);
    EXPECT_EQ(byteOf(sampleTexture(t, 0.75f, 0.5f).r), 255);
}

TEST(Texture, TexelCentresGiveTheTexelsAndRowZeroIsTheTop) {
    // Top row: (10, 20, 30) (40, 50, 60); bottom row: (70, 80, 90) (100, 110, 120).
    const Texture t =
        texture(2, 2, {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120}, TextureWrap::clamp);
    const struct {
        float u, v;
        int r, g, b;
    } cases[] = {{0.25f, 0.75f, 10, 20, 30}, {0.75f, 0.75f, 40, 50, 60},
                 {0.25f, 0.25f, 70, 80, 90}, {0.75f, 0.25f, 100, 110, 120},
                 {0.0f, 1.0f, 10, 20, 30},      // clamped corner
                 {1.0f, 0.0f, 100, 110, 120}};  // clamped corner
    for (const auto& c : cases) {
        const Colour s = sampleTexture(t, c.u, c.v);
        EXPECT_EQ(byteOf(s.r), c.r) << c.u << "," << c.v;
        EXPECT_EQ(byteOf(s.g), c.g) << c.u << "," << c.v;
        EXPECT_EQ(byteOf(s.b), c.b) << c.u << "," << c.v;
    }
}

TEST(Texture, WrapModesFoldCoordinatesAsTheFileSays) {
    // Four texels in a row: 0, 80, 160, 240 (grey).
    const std::vector<std::uint8_t> row = {0, 0, 0, 80, 80, 80, 160, 160, 160, 240, 240, 240};
    const auto at = [&](TextureWrap wrap, float u) {
        return byteOf(sampleTexture(texture(4, 1, row, wrap), u, 0.5f).r);
    };
    // Texel centres at u = 0.125, 0.375, 0.625, 0.875.
    EXPECT_EQ(at(TextureWrap::repeat, 1.125f), 0);
    EXPECT_EQ(at(TextureWrap::repeat, -0.625f), 80);  // -0.625 + 1 = 0.375
    EXPECT_EQ(at(TextureWrap::mirror, 1.125f), 240);  // 2 - 1.125 = 0.875
    EXPECT_EQ(at(TextureWrap::mirror, -0.375f), 80);  // mirrored to 0.375
    EXPECT_EQ(at(TextureWrap::clamp, 7.0f), 240);
    EXPECT_EQ(at(TextureWrap::clamp, -7.0f), 0);
    // Between the last and the first texel: repeat mixes them, clamp holds the edge.
    EXPECT_EQ(at(TextureWrap::repeat, 1.0f),
              byteOf(sampleTexture(texture(2, 1, {240, 240, 240, 0, 0, 0}, TextureWrap::clamp),
                                   0.5f, 0.5f)
                         .r));
    EXPECT_EQ(at(TextureWrap::clamp, 1.0f), 240);
    // Non-finite coordinates read as 0.
    EXPECT_EQ(at(TextureWrap::clamp, std::nanf("")), 0);
}

TEST(Texture, DecodingRefusesOtherFormatsAndDamagedPictures) {
    const testing::ScratchFolder scratch("texture_decode");
    const std::string png =
        testing::pngBytes(scratch.path + "/p.png", 3, {{0xFF0000u, 0x00FF00u, 0x0000FFu}});
    Texture t;
    std::string error;
    ASSERT_TRUE(decodeTexture({reinterpret_cast<const std::uint8_t*>(png.data()), png.size()}, "p",
                              t, error))
        << error;
    EXPECT_EQ(t.width, 3);
    EXPECT_EQ(t.height, 1);
    EXPECT_EQ(t.rgb, (std::vector<std::uint8_t>{255, 0, 0, 0, 255, 0, 0, 0, 255}));
    const Texture before = t;
    const std::string gif = "GIF89a\x01\x00\x01\x00";
    EXPECT_FALSE(decodeTexture({reinterpret_cast<const std::uint8_t*>(gif.data()), gif.size()},
                               "g.gif", t, error));
    EXPECT_EQ(error, "g.gif: not a PNG or JPEG picture");
    const std::string cut = png.substr(0, png.size() / 2);
    EXPECT_FALSE(decodeTexture({reinterpret_cast<const std::uint8_t*>(cut.data()), cut.size()},
                               "cut.png", t, error));
    EXPECT_EQ(error.rfind("cut.png: ", 0), 0u) << error;
    EXPECT_EQ(t.rgb, before.rgb);  // unchanged on failure
    EXPECT_FALSE(readTextureFile(scratch.path + "/none.png", t, error));
}

// A face-coloured PLY header over the body `body` (ASCII), with `vertices` and `faces` counts.
std::string facePly(int vertices, int faces, const std::string& body) {
    return "ply\nformat ascii 1.0\nelement vertex " + std::to_string(vertices) +
           "\nproperty float x\nproperty float y\nproperty float z\nelement face " +
           std::to_string(faces) +
           "\nproperty list uchar int vertex_indices\nproperty uchar red\nproperty uchar green\n"
           "property uchar blue\nend_header\n" +
           body;
}

TEST(PlyFaceColours, RefusesDamagedFilesWithOneLineNamingTheFile) {
    const testing::ScratchFolder scratch("ply_refusals");
    const std::string good = "0 0 0\n1 0 0\n0 1 0\n3 0 1 2 255 0 0\n";
    const struct {
        const char* name;
        std::string text;
        const char* problem;
    } cases[] = {
        {"index", facePly(3, 1, "0 0 0\n1 0 0\n0 1 0\n3 0 1 3 255 0 0\n"),
         "vertex index 3 out of range (3 vertices)"},
        {"negative", facePly(3, 1, "0 0 0\n1 0 0\n0 1 0\n3 0 -1 2 255 0 0\n"),
         "face 0: vertex index -1 out of range"},
        {"count", facePly(3, 1000000, good), "element face: 1000000 items cannot fit in the file"},
        {"short", facePly(3, 2, good), "face 1: a value is missing or malformed"},
        {"garbage", facePly(3, 1, "0 0 0\n1 0 0\n0 1x 0\n3 0 1 2 255 0 0\n"),
         "vertex 2: a value is missing or malformed"},
    };
    for (const auto& c : cases) {
        const std::string path = scratch.path + "/" + c.name + ".ply";
        testing::writeFile(path, c.text);
        TriangleMesh mesh;
        std::string error;
        EXPECT_EQ(readPlyFaceColours(path, mesh, 1000, error), PlyFaceColours::failed) << c.name;
        EXPECT_EQ(error, path + ": " + c.problem) << c.name;
        EXPECT_TRUE(mesh.positions.empty()) << c.name;
    }
    // Within the limits it reads; one triangle past the limit it does not.
    const std::string path = scratch.path + "/good.ply";
    testing::writeFile(path, facePly(4, 1, "0 0 0\n1 0 0\n1 1 0\n0 1 0\n4 0 1 2 3 10 20 30\n"));
    TriangleMesh mesh;
    std::string error;
    ASSERT_EQ(readPlyFaceColours(path, mesh, 2, error), PlyFaceColours::read) << error;
    EXPECT_EQ(mesh.triangleCount(), 2u);
    EXPECT_EQ(mesh.colours[5], (Colour{10 / 255.0f, 20 / 255.0f, 30 / 255.0f}));
    EXPECT_EQ(readPlyFaceColours(path, mesh, 1, error), PlyFaceColours::failed);
    EXPECT_EQ(error, path + ": more than 1 triangles");
    // Without face colours, or with a header this reader does not follow, the file is left to
    // the general importer.
    const std::string headers[] = {
        "ply\nformat ascii 1.0\nelement vertex 0\nproperty float x\nend_header\n",
        "ply\nformat ascii 2.0\nelement face 1\nproperty uchar red\nend_header\n",
        "ply\nformat ascii 1.0\nelement face 1\nproperty uchar red\n",
        "ply\nformat ascii 1.0\nelement face 1\nproperty colour red\nend_header\n",
        "plyx\nformat ascii 1.0\nelement face 1\nproperty uchar red\nend_header\n"};
    for (const std::string& text : headers) {
        const std::string other = scratch.path + "/other.ply";
        testing::writeFile(other, text);
        EXPECT_EQ(readPlyFaceColours(other, mesh, 10, error), PlyFaceColours::absent) << text;
    }
}

}  // namespace
}  // namespace strata::maker
