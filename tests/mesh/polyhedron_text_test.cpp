#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "mesh/polyhedron.h"
#include "mesh_test_support.h"
#include "platform/debug_output.h"

namespace strata::mesh {
namespace {

using testing::isValidPolyhedron;
using testing::makeCube;
using testing::polyhedronVolume;

std::string cubePath() {
    return std::string(STRATA_TEST_DATA_DIR) + "/mesh/cube.txt";
}

class TempDir {
  public:
    TempDir() {
        path_ = std::filesystem::temp_directory_path() /
                ("strata_mesh_" + std::to_string(::getpid()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(path_);
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    std::string write(const std::string& name, const std::string& text) const {
        const std::string file = (path_ / name).string();
        std::ofstream(file, std::ios::binary) << text;
        return file;
    }

  private:
    std::filesystem::path path_;
};

// Captures what a layout writes to a stream.
template <typename Fn>
std::string captured(Fn write) {
    std::FILE* f = std::tmpfile();
    write(f);
    std::fflush(f);
    std::rewind(f);
    std::string text;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
        text.append(buffer, n);
    }
    std::fclose(f);
    return text;
}

TEST(ReadPolyhedron, CubeFile) {
    Polyhedron p;
    platform::DebugCapture capture;
    ASSERT_EQ(ReadPolyhedron(cubePath().c_str(), p), 1);
    EXPECT_TRUE(capture.pieces().empty());
    EXPECT_EQ(p.numVertices(), 8);
    EXPECT_EQ(p.numEdges(), 12);
    EXPECT_EQ(p.numFaces(), 6);
    for (const MeshVertex& v : p.vertices) {
        EXPECT_EQ(v.order, 3);
    }
    for (const MeshFace& f : p.faces) {
        EXPECT_EQ(ClassifyPoint({0, 0, 0}, f.plane), 1);
    }
    EXPECT_TRUE(isValidPolyhedron(p));
    EXPECT_NEAR(polyhedronVolume(p), 8.0, 1e-5);
}

struct BadFile {
    const char* name;
    std::string text;
    const char* message;
};

std::string header(int v, int f) {
    return std::to_string(v) + " " + std::to_string(f) + " 0\n";
}

std::string tetrahedronBody() {
    return "0 0 0\n1 0 0\n0 1 0\n0 0 1\n";
}

TEST(ReadPolyhedron, RefusesMalformedFilesWithOneLine) {
    std::string manyIndices = header(25, 6);
    for (int v = 0; v < 25; ++v) {
        manyIndices += std::to_string(v);
        manyIndices += " 0 0\n";
    }
    for (int f = 0; f < 6; ++f) {
        manyIndices += "25";
        for (int k = 0; k < 25; ++k) {
            manyIndices += ' ';
            manyIndices += std::to_string(k);
        }
        manyIndices += "\n";
    }
    const std::string tetFaces = "3 0 2 1\n3 0 1 3\n3 0 3 2\n3 1 2 3\n";
    std::string openCube = "8 5 0\n";
    {
        std::ifstream in(cubePath());
        std::string line;
        std::getline(in, line);
        for (int i = 0; i < 13 && std::getline(in, line); ++i) {
            openCube += line + "\n";
        }
    }
    const std::vector<BadFile> cases = {
        {"empty", "", "missing or malformed count in the first line"},
        {"two counts", "4 4", "missing or malformed count in the first line"},
        {"word", "4 four 0", "missing or malformed count in the first line"},
        {"trailing letters", "4abc 4 0", "missing or malformed count in the first line"},
        {"huge count", "99999999999 4 0", "missing or malformed count in the first line"},
        {"negative", "-1 4 0", "negative count"},
        {"too many vertices", header(26, 4), "26 vertices exceed the capacity of 25"},
        {"too many faces", header(8, 26), "26 faces exceed the capacity of 25"},
        {"short positions", header(4, 4) + "0 0 0\n1 0 0\n0 1 0\n",
         "missing or malformed position of vertex 3"},
        {"nan position", header(4, 4) + "0 0 0\n1 nan 0\n0 1 0\n0 0 1\n",
         "missing or malformed position of vertex 1"},
        {"infinite position", header(4, 4) + "0 0 0\n1 0 0\n0 1e39 0\n0 0 1\n",
         "missing or malformed position of vertex 2"},
        {"missing face count", header(4, 4) + tetrahedronBody() + "3 0 2 1\n",
         "missing or malformed vertex count of face 1"},
        {"two-vertex face", header(4, 4) + tetrahedronBody() + "2 0 1\n",
         "face 0 has 2 vertices (at least 3 needed)"},
        {"negative face size", header(4, 4) + tetrahedronBody() + "-3 0 1 2\n",
         "face 0 has -3 vertices"},
        {"index too large", header(4, 4) + tetrahedronBody() + "3 0 2 4\n",
         "face 0 refers to vertex 4 outside 0..3"},
        {"negative index", header(4, 4) + tetrahedronBody() + "3 0 1 3\n3 -1 2 1\n",
         "face 1 refers to vertex -1 outside 0..3"},
        {"missing index", header(4, 4) + tetrahedronBody() + "3 0 2 1\n3 0 1 3\n3 0 3 2\n3 1 2",
         "missing or malformed vertex index in face 3"},
        {"too many indices", manyIndices, "face indices exceed the capacity of 128"},
        {"open surface", openCube, "borders only one face"},
        {"unused vertex", header(5, 4) + tetrahedronBody() + "5 5 5\n" + tetFaces,
         "vertex 4 belongs to no face"},
        {"too few faces", header(4, 3) + tetrahedronBody() + "3 0 2 1\n3 0 1 3\n3 0 3 2\n",
         "cannot form a polyhedron"},
    };
    TempDir dir;
    for (const BadFile& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.write("bad.txt", c.text);
        Polyhedron p = makeCube();
        platform::DebugCapture capture;
        EXPECT_EQ(ReadPolyhedron(path.c_str(), p), 0);
        ASSERT_EQ(capture.pieces().size(), 1u) << capture.text();
        EXPECT_EQ(capture.text().rfind("ReadPolyhedron: " + path + ": ", 0), 0u) << capture.text();
        EXPECT_NE(capture.text().find(c.message), std::string::npos) << capture.text();
        EXPECT_EQ(capture.text().back(), '\n');
        // Refused reads leave the polyhedron as it was.
        EXPECT_EQ(p.numVertices(), 8);
        EXPECT_TRUE(isValidPolyhedron(p));
    }
    // A good tetrahedron file with the same helpers reads, so the table tests the refusals.
    const std::string good = dir.write("good.txt", header(4, 4) + tetrahedronBody() + tetFaces);
    Polyhedron p;
    ASSERT_EQ(ReadPolyhedron(good.c_str(), p), 1);
    EXPECT_TRUE(isValidPolyhedron(p));
    EXPECT_NEAR(polyhedronVolume(p), 1.0 / 6, 1e-6);
}

TEST(ReadPolyhedron, WindowsLineEndsAndSignedNumbers) {
    TempDir dir;
    const std::string path =
        dir.write("crlf.txt",
                  "4 4 +7\r\n0 0 0\r\n1 0 0\r\n0 +1 0\r\n0 0 1e0\r\n3 0 2 1\r\n3 0 1 3\r\n"
                  "3 0 3 2\r\n3 1 2 3\r\n");
    Polyhedron p;
    ASSERT_EQ(ReadPolyhedron(path.c_str(), p), 1);
    EXPECT_EQ(p.numEdges(), 6);
    EXPECT_TRUE(isValidPolyhedron(p));
}

TEST(ReadPolyhedron, MissingFile) {
    Polyhedron p;
    platform::DebugCapture capture;
    EXPECT_EQ(ReadPolyhedron("/nonexistent/strata/poly.txt", p), 0);
    EXPECT_EQ(capture.text(), "ReadPolyhedron: can't open /nonexistent/strata/poly.txt\n");
}

TEST(ReadPolyhedron, EveryTruncationIsReadOrRefused) {
    std::ifstream in(cubePath(), std::ios::binary);
    const std::string whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    TempDir dir;
    int refused = 0;
    for (std::size_t length = 0; length < whole.size(); ++length) {
        const std::string path = dir.write("cut.txt", whole.substr(0, length));
        Polyhedron p;
        platform::DebugCapture capture;
        if (ReadPolyhedron(path.c_str(), p) == 0) {
            ++refused;
            EXPECT_EQ(capture.pieces().size(), 1u);
            EXPECT_TRUE(p.empty());
        } else {
            EXPECT_TRUE(isValidPolyhedron(p));
        }
    }
    // Only cuts inside the last number (or its line end) can still read.
    EXPECT_GE(refused, static_cast<int>(whole.size()) - 3);
}

TEST(PolyhedronLayouts, PlainWriterReadsBack) {
    const Polyhedron cube = makeCube();
    const std::string text = captured([&](std::FILE* f) { WritePolyhedron(cube, f); });
    EXPECT_EQ(
        text.rfind(" 8 6 12\n-1.000000 -1.000000 -1.000000 \n1.000000 -1.000000 -1.000000 \n", 0),
        0u)
        << text;
    EXPECT_NE(text.find("\n4  0  2  3  1 \n"), std::string::npos) << text;
    TempDir dir;
    const std::string path = dir.write("round.txt", text);
    Polyhedron back;
    ASSERT_EQ(ReadPolyhedron(path.c_str(), back), 1);
    EXPECT_EQ(back.numEdges(), 12);
    for (std::size_t i = 0; i < back.vertices.size(); ++i) {
        EXPECT_EQ(back.vertices[i].position(), cube.vertices[i].position());
    }
    for (std::int32_t f = 0; f < back.numFaces(); ++f) {
        EXPECT_EQ(FaceVertices(back, f), FaceVertices(cube, f));
        EXPECT_EQ(back.faces[static_cast<std::size_t>(f)].plane,
                  cube.faces[static_cast<std::size_t>(f)].plane);
    }
}

TEST(PolyhedronLayouts, BlockWriter) {
    const Polyhedron cube = makeCube();
    const std::string text = captured([&](std::FILE* f) { WritePolyhedronBlock(cube, f); });
    EXPECT_EQ(text.rfind("\nNEXT ONE\n\n 8 6 12\n -1  -1  -1 \n 1  -1  -1 \n", 0), 0u) << text;
    EXPECT_NE(text.find("\n 4 0  2  3  1 \n 4 4  5  7  6 \n"), std::string::npos) << text;
}

TEST(PolyhedronLayouts, PrintShowsIndices) {
    const Polyhedron cube = makeCube();
    const std::string text = captured([&](std::FILE* f) { PrintPolyhedron(cube, f); });
    const MeshEdge& e0 = cube.edges[0];
    const std::string edgeLine = platform::formatString(
        " edge [ 0 ] connects ( %d , %d ) separates ( %d , %d ) neighbors ( ( %d , %d ) , ( %d , "
        "%d ) )\n",
        e0.vertex1, e0.vertex2, e0.face1, e0.face2, e0.next1, e0.prev1, e0.next2, e0.prev2);
    EXPECT_EQ(text.rfind(" vertex [ 0 ] at ( -1 , -1 , -1 ) with order 3 and edge ", 0), 0u)
        << text;
    EXPECT_NE(text.find(edgeLine), std::string::npos) << text;
    EXPECT_NE(text.find(" face [ 5 ] plane equation ( "), std::string::npos);
    EXPECT_NE(text.find(" ) with order 4 and edge "), std::string::npos);
    // Edge 0 joins vertices 0 and 1 (the last step of face 0, 1 -> 0).
    EXPECT_EQ(e0.vertex1, 0);
    EXPECT_EQ(e0.vertex2, 1);
}

TEST(PolyhedronLayouts, DumpPrintsRecordAddresses) {
    const Polyhedron cube = makeCube();
    const std::string text = captured([&](std::FILE* f) { DumpPolyhedron(cube, "cube", f); });
    EXPECT_EQ(
        text.rfind("\n cube -- Halden Data Structure Dump --\nVertices:\n  vert[0]:: addr: ", 0),
        0u)
        << text;
    const std::string vertexLine = platform::formatString(
        "  vert[1]:: addr: %p   position:( %f,  %f,  %f ) edge: %p\n",
        static_cast<const void*>(&cube.vertices[1]), 1.0, -1.0, -1.0,
        static_cast<const void*>(&cube.edges[static_cast<std::size_t>(cube.vertices[1].edge)]));
    EXPECT_NE(text.find(vertexLine), std::string::npos) << text;
    const std::string faceLine = platform::formatString(
        "  face[0]:: addr: %p   numVerts = 4  edge: %p  eqn: ",
        static_cast<const void*>(&cube.faces[0]),
        static_cast<const void*>(&cube.edges[static_cast<std::size_t>(cube.faces[0].edge)]));
    EXPECT_NE(text.find("Edges:\n  edge[0]:: addr: "), std::string::npos);
    EXPECT_NE(text.find(faceLine), std::string::npos) << text;
}

}  // namespace
}  // namespace strata::mesh
