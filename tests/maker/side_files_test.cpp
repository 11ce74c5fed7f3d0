// The files a mesh names: materials, buffers and textures that are FIFOs, lie outside the model's
// folder or are too large; and the pre-check of list lengths, cut lines and file sizes.
#include "maker/side_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "maker/mesh_import.h"
#include "maker_test_util.h"
#include "mesh_files.h"
#include "platform/folder_fence.h"

namespace strata::maker {
namespace {

const std::string kTriangleObj =
    "v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 0 1\nf 1/1 2/2 3/3\n";

// A one-triangle glTF whose buffer is the file `uri`; writes the buffer as good.bin.
std::string gltfNaming(const std::string& uri) {
    return R"({"asset": {"version": "2.0"}, "scenes": [{"nodes": [0]}], "scene": 0,
        "nodes": [{"mesh": 0}], "meshes": [{"primitives": [{"attributes": {"POSITION": 0}}]}],
        "buffers": [{"uri": ")" +
           uri + R"(", "byteLength": 36}],
        "bufferViews": [{"buffer": 0, "byteOffset": 0, "byteLength": 36}],
        "accessors": [{"bufferView": 0, "componentType": 5126, "count": 3, "type": "VEC3",
                       "min": [0, 0, 0], "max": [1, 1, 0]}]})";
}

std::string triangleBuffer() {
    const float v[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    return std::string(reinterpret_cast<const char*>(v), sizeof v);
}

class SideFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::setOutsidePathsAllowed(false);
        std::filesystem::create_directories(scratch_.path + "/model/textures");
        std::filesystem::create_directories(scratch_.path + "/elsewhere");
    }
    void TearDown() override { platform::setOutsidePathsAllowed(false); }
    std::string at(const std::string& name) const { return scratch_.path + "/" + name; }

    testing::ScratchFolder scratch_{"side_files"};
};

// Every file a model names goes through the same open as the model: a FIFO never blocks (the
// alarm would stop a run that waits), and is named in one line.
TEST_F(SideFiles, FifosNamedByAModelDoNotBlock) {
    ASSERT_EQ(::mkfifo(at("model/fifo.mtl").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(at("model/fifo.bin").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(at("model/fifo.png").c_str(), 0600), 0);
    testing::writeFile(at("model/a.obj"), "mtllib fifo.mtl\n" + kTriangleObj);
    testing::writeFile(at("model/t.mtl"), "newmtl m\nKd 0 1 0\nmap_Kd fifo.png\n");
    testing::writeFile(at("model/t.obj"), "mtllib t.mtl\nusemtl m\n" + kTriangleObj);
    testing::writeFile(at("model/b.gltf"), gltfNaming("fifo.bin"));
    EXPECT_EXIT(
        {
            ::alarm(10);
            Scene scene;
            std::string error;
            std::vector<std::string> warnings;
            const bool obj = loadMeshScene(at("model/a.obj"), scene, error, 1 << 20, &warnings) &&
                             warnings.size() == 1 &&
                             warnings[0].find("fifo.mtl: not a regular file") != std::string::npos;
            warnings.clear();
            const bool texture =
                loadMeshScene(at("model/t.obj"), scene, error, 1 << 20, &warnings) &&
                warnings.size() == 1 &&
                warnings[0].find("texture \"fifo.png\" cannot be read") != std::string::npos;
            const bool gltf = !loadMeshScene(at("model/b.gltf"), scene, error) &&
                              error.find("fifo.bin: not a regular file") != std::string::npos;
            std::exit(obj && texture && gltf ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// Names leading outside the model's folder are refused (the model loads with the material
// colour); subfolders are fine; --allow-outside-paths lifts the rule.
TEST_F(SideFiles, FilesOutsideTheModelsFolderAreRefused) {
    testing::writeFile(at("elsewhere/o.mtl"), "newmtl m\nKd 1 0 0\n");
    testing::writeFile(at("elsewhere/good.bin"), triangleBuffer());
    testing::writeFile(at("model/good.bin"), triangleBuffer());
    testing::writeFile(
        at("model/textures/t.png"),
        testing::pngBytes(at("model/p.png"), 2, {{0xFF0000u, 0x00FF00u}, {0x0000FFu, 0xFFFFFFu}}));
    testing::writeFile(at("elsewhere/t.png"),
                       testing::pngBytes(at("elsewhere/p.png"), 2,
                                         {{0xFF0000u, 0x00FF00u}, {0x0000FFu, 0xFFFFFFu}}));
    testing::writeFile(at("model/in.mtl"), "newmtl m\nKd 0 1 0\nmap_Kd textures/t.png\n");
    testing::writeFile(at("model/out.mtl"), "newmtl m\nKd 0 1 0\nmap_Kd ../elsewhere/t.png\n");
    testing::writeFile(at("model/abs.mtl"),
                       "newmtl m\nKd 0 1 0\nmap_Kd " + at("elsewhere/t.png") + "\n");
    std::filesystem::create_symlink("../elsewhere/t.png", at("model/link.png"));
    testing::writeFile(at("model/link.mtl"), "newmtl m\nKd 0 1 0\nmap_Kd link.png\n");
    for (const char* name : {"in", "out", "abs", "link"}) {
        testing::writeFile(at("model/") + name + ".obj",
                           std::string("mtllib ") + name + ".mtl\nusemtl m\n" + kTriangleObj);
    }
    testing::writeFile(at("model/mtl.obj"), "mtllib ../elsewhere/o.mtl\nusemtl m\n" + kTriangleObj);
    testing::writeFile(at("model/in.gltf"), gltfNaming("good.bin"));
    testing::writeFile(at("model/out.gltf"), gltfNaming("../elsewhere/good.bin"));
    struct Case {
        const char* model;
        bool loads;
        const char* warning;  // "" for none
        bool textured;
    };
    const Case cases[] = {
        {"in.obj", true, "", true},
        {"out.obj", true, "\"../elsewhere/t.png\" lies outside", false},
        {"abs.obj", true, "elsewhere/t.png\" lies outside", false},
        {"link.obj", true, "\"link.png\" lies outside", false},
        {"mtl.obj", true, "o.mtl\" lies outside", false},
        {"in.gltf", true, "", false},
        {"out.gltf", false, "good.bin\" lies outside", false},
    };
    for (bool allowed : {false, true}) {
        platform::setOutsidePathsAllowed(allowed);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.model) + (allowed ? " allowed" : ""));
            Scene scene;
            std::string error;
            std::vector<std::string> warnings;
            const bool loaded =
                loadMeshScene(at("model/") + c.model, scene, error, 1 << 20, &warnings);
            EXPECT_EQ(loaded, c.loads || allowed) << error;
            const std::string said = loaded ? (warnings.empty() ? "" : warnings.front()) : error;
            if (*c.warning == '\0' || allowed) {
                EXPECT_EQ(said.find("lies outside"), std::string::npos) << said;
            } else {
                EXPECT_NE(said.find(c.warning), std::string::npos) << said;
                EXPECT_LE(warnings.size(), 1u);
            }
            if (loaded && std::string(c.model).ends_with(".obj")) {
                EXPECT_EQ(scene.textures.size(),
                          c.textured || (allowed && c.model[0] != 'm') ? 1u : 0u);
            }
        }
    }
}

// A material property before the first "newmtl" crashed the importer (it sets it on no
// material): such a material file is refused in one line and the model loads without it.
TEST_F(SideFiles, MaterialFilesAreCheckedBeforeTheImporterReadsThem) {
    const auto problem = [](const std::string& text) {
        return materialFileProblem(
            std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    };
    EXPECT_EQ(problem(""), "");
    EXPECT_EQ(problem("# comment\n\n  Kd 1 0 0\nnewmtl a\nKd 1 0 0\nmap_Kd t.png\n"), "");
    EXPECT_EQ(problem("\\\\ 1\nnewmtl"), "");
    EXPECT_NE(problem("map_Kd t\n").find("line 1 sets a material property before the first newmtl"),
              std::string::npos);
    EXPECT_NE(problem("# a\r\nKd 1 1 1\r\nnewmtl a\n").find("line 2"), std::string::npos);
    EXPECT_NE(problem("newmt\nNs 1\n").find("line 1"), std::string::npos);
    testing::writeFile(at("model/bad.mtl"), "map_Kd t\n");
    testing::writeFile(at("model/bad.obj"), "mtllib bad.mtl\n" + kTriangleObj);
    Scene scene;
    std::string error;
    std::vector<std::string> warnings;
    ASSERT_TRUE(loadMeshScene(at("model/bad.obj"), scene, error, 1 << 20, &warnings)) << error;
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("bad.mtl: line 1 sets a material property"), std::string::npos)
        << warnings[0];
}

TEST_F(SideFiles, FindSideFileLooksOnlyInsideTheFence) {
    testing::writeFile(at("model/textures/t.png"), "x");
    testing::writeFile(at("elsewhere/t.png"), "x");
    std::string refusal;
    EXPECT_EQ(findSideFile(at("model/m.obj"), "textures/t.png", refusal),
              at("model/textures/t.png"));
    EXPECT_EQ(findSideFile(at("model/m.obj"), "textures\\t.png", refusal),
              at("model/textures/t.png"));
    // An absolute name from another machine: its file name beside the model.
    EXPECT_EQ(findSideFile(at("model/m.obj"), "C:\\work\\textures\\t.png", refusal), "");
    testing::writeFile(at("model/t.png"), "x");
    EXPECT_EQ(findSideFile(at("model/m.obj"), at("elsewhere/t.png"), refusal), at("model/t.png"));
    std::filesystem::remove(at("model/t.png"));
    refusal.clear();
    EXPECT_EQ(findSideFile(at("model/m.obj"), "../elsewhere/t.png", refusal), "");
    EXPECT_NE(refusal.find("lies outside"), std::string::npos);
    const std::string there = refusal;
    std::filesystem::remove(at("elsewhere/t.png"));
    refusal.clear();
    findSideFile(at("model/m.obj"), "../elsewhere/t.png", refusal);
    EXPECT_EQ(refusal, there) << "the refusal tells whether the outside file exists";
}

}  // namespace
}  // namespace strata::maker
