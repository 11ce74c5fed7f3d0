// Colours of real mesh files: each file is written here with known colours (vertex colours on
// unshared vertices, PLY face colours in every PLY format, MTL colours, a texture beside an OBJ
// and one embedded in a GLB), and `strata trace` must show exactly those colours well inside
// every face or cell; the LDI front layer and the MRQP sub-cell colours must agree with trace.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <optional>
#include <string>

#include "imageutil/png_file.h"
#include "ldi/ldi_factory.h"
#include "ldi/ldi_rt_mrqp.h"
#include "ldi/ldi_rt_qp.h"
#include "maker/mesh_import.h"
#include "maker_test_util.h"
#include "mesh_files.h"

namespace strata::maker {
namespace {

using testing::run;
using testing::ScratchFolder;
using testing::writeFile;

// Every picture looks down -z from (0, 0, 2) with a 90-degree view: pixel column c of an N-wide
// picture sees x = 2 ((2c + 1) / N - 1) on the plane z = 0 (rows likewise for y).
std::string cameraFlags(int size) {
    return "--pos 0,0,2 --dir 0,0,-1 --up 0,1,0 --fov 90 --shading unlit --size " +
           std::to_string(size) + "x" + std::to_string(size);
}

float worldOf(int pixel, int size) {
    return 2.0f * ((2.0f * static_cast<float>(pixel) + 1.0f) / static_cast<float>(size) - 1.0f);
}

// The expected colour at plane point (x, y), or none where the point is too near an edge
// (`margin` is one and a half pixels).
using Expectation = std::function<std::optional<std::uint32_t>(float x, float y, float margin)>;

struct TraceCase {
    const char* name;
    const char* scene;  // file name in the scratch folder
    std::function<void(const std::string& folder)> write;
    Expectation expected;
    int size = 64;  // picture side for the trace
};

std::optional<std::uint32_t> insideSquare(float x, float y, float margin, std::uint32_t colour) {
    return std::fabs(x) < 1.0f - margin && std::fabs(y) < 1.0f - margin
               ? std::optional<std::uint32_t>(colour)
               : std::nullopt;
}

// Two triangles, red (0xFF0000) on the left and blue on the right, touching at the origin; each
// has its own three vertices, so the origin appears twice with different colours.
void writeTwoTriangles(const std::string& folder) {
    writeFile(folder + "/two.ply",
              "ply\nformat ascii 1.0\nelement vertex 6\nproperty float x\nproperty float y\n"
              "property float z\nproperty uchar red\nproperty uchar green\nproperty uchar blue\n"
              "element face 2\nproperty list uchar int vertex_indices\nend_header\n"
              "0 0 0 255 0 0\n-1 1 0 255 0 0\n-1 -1 0 255 0 0\n"
              "0 0 0 0 0 255\n1 -1 0 0 0 255\n1 1 0 0 0 255\n3 0 2 1\n3 3 4 5\n");
}

std::optional<std::uint32_t> twoTriangles(float x, float y, float margin) {
    const float edge = margin * 1.5f;  // distance to the diagonal edges, scaled by sqrt 2
    if (x < 0.0f && std::fabs(y) < -x - edge && x > -1.0f + margin) {
        return 0xFF0000u;
    }
    if (x > 0.0f && std::fabs(y) < x - edge && x < 1.0f - margin) {
        return 0x0000FFu;
    }
    return std::nullopt;
}

// Faces sharing vertices but each with its own colour: a quad on the left (green), and on the
// right two triangles split by the diagonal from (0, -1) to (1, 1): (200, 40, 90) below it and
// (10, 20, 30) above. Vertices: (-1,-1) (0,-1) (1,-1) (-1,1) (0,1) (1,1).
enum class PlyFormat { ascii, little, big };

void writeFaceColours(const std::string& path, PlyFormat format) {
    const float xy[6][2] = {{-1, -1}, {0, -1}, {1, -1}, {-1, 1}, {0, 1}, {1, 1}};
    const std::vector<std::vector<int>> faces = {{0, 1, 4, 3}, {1, 2, 5}, {1, 5, 4}};
    const std::uint8_t colours[3][3] = {{0, 255, 0}, {200, 40, 90}, {10, 20, 30}};
    const char* names[] = {"ascii", "binary_little_endian", "binary_big_endian"};
    std::string text = std::string("ply\nformat ") + names[static_cast<int>(format)] +
                       " 1.0\ncomment faces with their own colours\nelement vertex 6\n"
                       "property float x\nproperty float y\nproperty float z\n"
                       "property float quality\nelement face 3\n"
                       "property list uchar int vertex_indices\nproperty uchar red\n"
                       "property uchar green\nproperty uchar blue\nproperty short flags\n"
                       "end_header\n";
    for (const auto& p : xy) {
        if (format == PlyFormat::ascii) {
            text += std::to_string(p[0]) + " " + std::to_string(p[1]) + " 0 0.5\n";
            continue;
        }
        for (float v : {p[0], p[1], 0.0f, 0.5f}) {
            format == PlyFormat::little ? testing::put(text, v) : testing::putBigEndian(text, v);
        }
    }
    for (std::size_t f = 0; f < faces.size(); ++f) {
        if (format == PlyFormat::ascii) {
            text += std::to_string(faces[f].size());
            for (int i : faces[f]) {
                text += ' ';
                text += std::to_string(i);
            }
            for (std::uint8_t c : colours[f]) {
                text += ' ';
                text += std::to_string(c);
            }
            text += " 7\n";
            continue;
        }
        text.push_back(static_cast<char>(faces[f].size()));
        for (int i : faces[f]) {
            format == PlyFormat::little ? testing::put(text, i) : testing::putBigEndian(text, i);
        }
        text.append(reinterpret_cast<const char*>(colours[f]), 3);
        format == PlyFormat::little ? testing::put<std::int16_t>(text, 7)
                                    : testing::putBigEndian<std::int16_t>(text, 7);
    }
    writeFile(path, text);
}

std::optional<std::uint32_t> faceColours(float x, float y, float margin) {
    if (!insideSquare(x, y, margin, 0)) {
        return std::nullopt;
    }
    if (x < -margin) {
        return 0x00FF00u;
    }
    const float side = y - (2.0f * x - 1.0f);  // < 0 below the diagonal
    if (x > margin && std::fabs(side) > 2.5f * margin) {
        return side < 0.0f ? 0xC8285Au : 0x0A141Eu;
    }
    return std::nullopt;
}

// Two squares side by side with MTL colours: Kd 1 0 0 left, Kd 0 0.5 1 right.
void writeObjMaterials(const std::string& folder) {
    writeFile(folder + "/two.mtl", "newmtl left\nKd 1 0 0\nnewmtl right\nKd 0 0.5 1\n");
    writeFile(folder + "/materials.obj",
              "mtllib two.mtl\nv -1 -1 0\nv 0 -1 0\nv 1 -1 0\nv -1 1 0\nv 0 1 0\nv 1 1 0\n"
              "usemtl left\nf 1 2 5 4\nusemtl right\nf 2 3 6 5\n");
}

std::optional<std::uint32_t> objMaterials(float x, float y, float margin) {
    if (!insideSquare(x, y, margin, 0) || std::fabs(x) < margin) {
        return std::nullopt;
    }
    return x < 0.0f ? 0xFF0000u : 0x007FFFu;  // truncate(0.5 * 255) = 127
}

// The 2 x 2 texture: top row red, green; bottom row blue, white.
constexpr std::uint32_t kTopLeft = 0xFF0000u;
constexpr std::uint32_t kTopRight = 0x00FF00u;
constexpr std::uint32_t kBottomLeft = 0x0000FFu;
constexpr std::uint32_t kBottomRight = 0xFFFFFFu;

std::string checkerPng(const std::string& folder) {
    return testing::pngBytes(folder + "/scratch.png", 2,
                             {{kTopLeft, kTopRight}, {kBottomLeft, kBottomRight}});
}

void writeTexturedObj(const std::string& folder) {
    writeFile(folder + "/checker.png", checkerPng(folder));
    writeFile(folder + "/textured.mtl", "newmtl checker\nKd 0.6 0.6 0.6\nmap_Kd checker.png\n");
    writeFile(folder + "/textured.obj",
              "mtllib textured.mtl\nv -1 -1 0\nv 1 -1 0\nv 1 1 0\nv -1 1 0\n"
              "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nusemtl checker\nf 1/1 2/2 3/3 4/4\n");
}

void writeTexturedGlb(const std::string& folder) {
    writeFile(folder + "/textured.glb", testing::glbWithTexture(checkerPng(folder)));
}

// The texel centres sit at x, y = +-0.5; a 12-pixel picture has pixel centres exactly there
// (columns and rows 4 and 7), where bilinear filtering gives the texel itself.
std::optional<std::uint32_t> checkerCentres(float x, float y, float) {
    if (std::fabs(std::fabs(x) - 0.5f) > 1e-6f || std::fabs(std::fabs(y) - 0.5f) > 1e-6f) {
        return std::nullopt;
    }
    return y > 0.0f ? (x < 0.0f ? kTopLeft : kTopRight) : (x < 0.0f ? kBottomLeft : kBottomRight);
}

// An 8 x 8 checkerboard over [-1, 1]^2 whose cells have their own four vertices, all of the
// cell's colour (binary PLY): neighbouring cells share positions but never vertices.
constexpr int kCells = 8;

std::uint32_t cellColour(int i, int j) {
    return (i + j) % 2 == 0 ? 0xF0E0D0u
                            : (static_cast<std::uint32_t>(30 * i) << 16 |
                               static_cast<std::uint32_t>(30 * j) << 8 | 0x40u);
}

void writeCheckerboard(const std::string& folder) {
    std::string text = "ply\nformat binary_little_endian 1.0\nelement vertex " +
                       std::to_string(4 * kCells * kCells) +
                       "\nproperty float x\nproperty float y\nproperty float z\n"
                       "property uchar red\nproperty uchar green\nproperty uchar blue\n"
                       "element face " +
                       std::to_string(kCells * kCells) +
                       "\nproperty list uchar int vertex_indices\nend_header\n";
    const float step = 2.0f / kCells;
    for (int j = 0; j < kCells; ++j) {
        for (int i = 0; i < kCells; ++i) {
            const float x0 = -1.0f + step * static_cast<float>(i);
            const float y0 = -1.0f + step * static_cast<float>(j);
            const std::uint32_t c = cellColour(i, j);
            for (const auto& corner : {std::pair{x0, y0}, std::pair{x0 + step, y0},
                                       std::pair{x0 + step, y0 + step}, std::pair{x0, y0 + step}}) {
                testing::put(text, corner.first);
                testing::put(text, corner.second);
                testing::put(text, 0.0f);
                text.push_back(static_cast<char>(c >> 16));
                text.push_back(static_cast<char>(c >> 8 & 0xFF));
                text.push_back(static_cast<char>(c & 0xFF));
            }
        }
    }
    for (int cell = 0; cell < kCells * kCells; ++cell) {
        text.push_back(4);
        for (int k = 0; k < 4; ++k) {
            testing::put<std::int32_t>(text, 4 * cell + k);
        }
    }
    writeFile(folder + "/checkerboard.ply", text);
}

std::optional<std::uint32_t> checkerboard(float x, float y, float margin) {
    const float step = 2.0f / kCells;
    const float u = (x + 1.0f) / step;
    const float v = (y + 1.0f) / step;
    const int i = static_cast<int>(std::floor(u));
    const int j = static_cast<int>(std::floor(v));
    if (i < 0 || j < 0 || i >= kCells || j >= kCells) {
        return std::nullopt;
    }
    const float inside = std::min({u - static_cast<float>(i), static_cast<float>(i + 1) - u,
                                   v - static_cast<float>(j), static_cast<float>(j + 1) - v});
    return inside * step > margin ? std::optional<std::uint32_t>(cellColour(i, j)) : std::nullopt;
}

const TraceCase kCases[] = {
    {"two_triangles", "two.ply", writeTwoTriangles, twoTriangles},
    {"face_ascii", "faces_a.ply",
     [](const std::string& f) { writeFaceColours(f + "/faces_a.ply", PlyFormat::ascii); },
     faceColours},
    {"face_little", "faces_l.ply",
     [](const std::string& f) { writeFaceColours(f + "/faces_l.ply", PlyFormat::little); },
     faceColours},
    {"face_big", "faces_b.ply",
     [](const std::string& f) { writeFaceColours(f + "/faces_b.ply", PlyFormat::big); },
     faceColours},
    {"obj_mtl", "materials.obj", writeObjMaterials, objMaterials},
    {"textured_obj", "textured.obj", writeTexturedObj, checkerCentres, 12},
    {"textured_glb", "textured.glb", writeTexturedGlb, checkerCentres, 12},
    {"checkerboard", "checkerboard.ply", writeCheckerboard, checkerboard, 128},
};

TEST(MeshColours, TraceShowsTheFileColoursWellInsideEveryFaceOrCell) {
    for (const TraceCase& c : kCases) {
        SCOPED_TRACE(c.name);
        const ScratchFolder scratch(std::string("colours_") + c.name);
        c.write(scratch.path);
        const int size = c.size;
        ASSERT_EQ(run("trace " + scratch.path + "/" + c.scene + " " + cameraFlags(size) + " -o " +
                      scratch.path + "/t.png"),
                  0);
        imageutil::RgbImage picture;
        ASSERT_TRUE(imageutil::readPng(scratch.path + "/t.png", picture));
        const float margin = 1.5f * 4.0f / static_cast<float>(size);
        int checked = 0;
        for (int row = 0; row < size; ++row) {
            for (int column = 0; column < size; ++column) {
                const auto want = c.expected(worldOf(column, size), worldOf(row, size), margin);
                if (want) {
                    ++checked;
                    EXPECT_EQ(picture.at(column, row) & 0xFFFFFFu, *want)
                        << "pixel " << column << "," << row;
                }
            }
        }
        EXPECT_GE(checked, 4);
    }
}

TEST(MeshColours, TheLdiFrontLayerAgreesWithTrace) {
    for (const TraceCase& c : kCases) {
        SCOPED_TRACE(c.name);
        const ScratchFolder scratch(std::string("front_") + c.name);
        c.write(scratch.path);
        const int size = 24;
        const std::string flags = cameraFlags(size);
        ASSERT_EQ(run("trace " + scratch.path + "/" + c.scene + " " + flags + " -o " +
                      scratch.path + "/t.png"),
                  0);
        ASSERT_EQ(run("make " + scratch.path + "/" + c.scene + " --kind rt-qp " +
                      flags.substr(0, flags.find(" --size")) + " --size 24 -o " + scratch.path +
                      "/m.ldibrtqp"),
                  0);
        imageutil::RgbImage picture;
        ASSERT_TRUE(imageutil::readPng(scratch.path + "/t.png", picture));
        const auto ldi = ldi::LoadLdi(scratch.path + "/m.ldibrtqp");
        const auto* qp = dynamic_cast<const ldi::LdiRtQp*>(ldi.get());
        ASSERT_NE(qp, nullptr);
        for (int row = 0; row < size; ++row) {
            for (int column = 0; column < size; ++column) {
                const int n = qp->LayerCount(row, column);
                const std::uint32_t front =
                    n == 0 ? 0xB2B2B2u
                           : qp->pixels[2 * (qp->rowStart[row] +
                                             qp->layerOffset[row * (size + 1) + column] + n - 1)];
                EXPECT_EQ(picture.at(column, row) & 0xFFFFFFu, front) << column << "," << row;
            }
        }
    }
}

// The sub-cell rays of an 8 x 8 MRQP grid are the pixel rays of a 32 x 32 (4 x 4 cells) and a
// 16 x 16 (2 x 2 cells) picture of the same camera: the sub-cell colours of the front layer
// must be those pictures' pixels, texture and all.
TEST(MeshColours, MrqpSubCellColoursComeFromTheTextureAtTheSubRayHit) {
    const ScratchFolder scratch("mrqp_texture");
    writeTexturedObj(scratch.path);
    const std::string scene = scratch.path + "/textured.obj";
    const std::string camera = "--pos 0,0,2 --dir 0,0,-1 --up 0,1,0 --fov 90 --shading unlit";
    ASSERT_EQ(run("make " + scene + " --kind rt-mrqp --size 8 " + camera + " -o " + scratch.path +
                  "/m.ldibrtmrqp"),
              0);
    ASSERT_EQ(run("trace " + scene + " --size 32 " + camera + " -o " + scratch.path + "/t4.png"),
              0);
    ASSERT_EQ(run("trace " + scene + " --size 16 " + camera + " -o " + scratch.path + "/t2.png"),
              0);
    imageutil::RgbImage fine;
    imageutil::RgbImage coarse;
    ASSERT_TRUE(imageutil::readPng(scratch.path + "/t4.png", fine));
    ASSERT_TRUE(imageutil::readPng(scratch.path + "/t2.png", coarse));
    const auto ldi = ldi::LoadLdi(scratch.path + "/m.ldibrtmrqp");
    const auto* mrqp = dynamic_cast<const ldi::LdiRtMrqp*>(ldi.get());
    ASSERT_NE(mrqp, nullptr);
    int covered = 0;
    int differing = 0;  // sub-cells whose colour differs from their pixel's full colour
    for (int row = 0; row < 8; ++row) {
        for (int column = 0; column < 8; ++column) {
            const int n = mrqp->LayerCount(row, column);
            if (n != 1) {
                continue;  // off the square: nothing to compare
            }
            const std::size_t cell = static_cast<std::size_t>(row * 9 + column);
            const std::int64_t index = mrqp->rowStart[0][row] + mrqp->layerOffset[0][cell];
            const std::uint32_t mask = mrqp->pixels[2 * index + 1];
            std::int64_t at4 = mrqp->rowStart[1][row] + mrqp->layerOffset[1][cell];
            std::int64_t at2 = mrqp->rowStart[2][row] + mrqp->layerOffset[2][cell];
            for (int bit = 0; bit < 16; ++bit) {
                if ((mask >> bit & 1u) != 0) {
                    const std::uint32_t want = fine.at(4 * column + bit % 4, 4 * row + bit / 4);
                    EXPECT_EQ(mrqp->colours4x4[at4++], want & 0xFFFFFFu) << row << "," << column;
                    differing += (want & 0xFFFFFFu) != mrqp->fullColours[index] ? 1 : 0;
                    ++covered;
                }
            }
            for (int bit = 0; bit < 4; ++bit) {
                if ((mask >> (16 + bit) & 1u) != 0) {
                    const std::uint32_t want = coarse.at(2 * column + bit % 2, 2 * row + bit / 2);
                    EXPECT_EQ(mrqp->colours2x2[at2++], want & 0xFFFFFFu) << row << "," << column;
                }
            }
        }
    }
    EXPECT_GE(covered, 16 * 16);  // the square covers at least the middle 4 x 4 pixels
    EXPECT_GT(differing, covered / 2);
}

TEST(MeshColours, ATextureThatCannotBeReadGivesOneWarningAndTheMaterialColour) {
    const ScratchFolder scratch("missing_texture");
    writeTexturedObj(scratch.path);
    writeFile(scratch.path + "/checker.png", "not a picture at all");
    Scene scene;
    std::string error;
    std::vector<std::string> warnings;
    ASSERT_TRUE(loadMeshScene(scratch.path + "/textured.obj", scene, error, std::size_t{1} << 26,
                              &warnings))
        << error;
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("\"checker.png\""), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[0].find("(0.600, 0.600, 0.600)"), std::string::npos) << warnings[0];
    EXPECT_EQ(warnings[0].find('\n'), std::string::npos);
    // The command succeeds with the material colour: truncate(0.6 * 255) = 153.
    ASSERT_EQ(run("trace " + scratch.path + "/textured.obj " + cameraFlags(12) + " -o " +
                  scratch.path + "/t.png"),
              0);
    imageutil::RgbImage picture;
    ASSERT_TRUE(imageutil::readPng(scratch.path + "/t.png", picture));
    EXPECT_EQ(picture.at(6, 6) & 0xFFFFFFu, 0x999999u);
    // A texture file that is not there at all: the same.
    std::filesystem::remove(scratch.path + "/checker.png");
    warnings.clear();
    ASSERT_TRUE(loadMeshScene(scratch.path + "/textured.obj", scene, error, std::size_t{1} << 26,
                              &warnings));
    EXPECT_EQ(warnings.size(), 1u);
}

}  // namespace
}  // namespace strata::maker
