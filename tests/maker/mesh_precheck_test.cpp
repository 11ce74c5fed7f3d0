// The look at mesh files before the importer: declared element counts against file sizes.
#include "maker/mesh_precheck.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "maker/mesh_import.h"
#include "maker_test_util.h"
#include "mesh_files.h"

namespace strata::maker {
namespace {

std::string checked(const std::string& name, const std::string& text) {
    const std::vector<std::uint8_t> bytes(text.begin(), text.end());
    return precheckMeshBytes(name, bytes);
}

const std::string kAsciiHeader =
    "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
    "property float z\nelement face 1\nproperty list uchar int vertex_indices\nend_header\n";
const std::string kAsciiBody = "0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n";

std::string binaryPly(int vertices, int faces, std::size_t bodyBytes) {
    return "ply\r\nformat binary_little_endian 1.0\r\nelement vertex " + std::to_string(vertices) +
           "\r\nproperty float x\r\nproperty float y\r\nproperty float z\r\nelement face " +
           std::to_string(faces) + "\r\nproperty list uchar int vertex_indices\r\nend_header\r\n" +
           std::string(bodyBytes, '\0');
}

std::string binaryStl(std::uint32_t triangles, std::size_t bodyBytes, const char* head = "") {
    std::string s(80, ' ');
    s.replace(0, std::string(head).size(), head);
    for (int i = 0; i < 4; ++i) {
        s.push_back(static_cast<char>(triangles >> (8 * i)));
    }
    return s + std::string(bodyBytes, '\0');
}

struct Case {
    const char* what;
    std::string name;
    std::string text;
    const char* expected;  // "" when the file passes
};

template <std::size_t N>
void expectChecks(const Case (&cases)[N]) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string problem = checked(c.name, c.text);
        if (*c.expected == '\0') {
            EXPECT_EQ(problem, "");
        } else {
            EXPECT_NE(problem.find(c.expected), std::string::npos) << problem;
        }
    }
}

TEST(MeshPrecheck, DeclaredCountsMustFitTheFile) {
    const std::string claims2G =
        "ply\nformat ascii 1.0\nelement vertex 2000000000\nproperty float "
        "x\nelement face 1\nproperty list uchar int v\nend_header\n0\n";
    const std::string withFewerLines =
        kAsciiHeader.substr(0, kAsciiHeader.find("vertex 3")) + "vertex 4" +
        kAsciiHeader.substr(kAsciiHeader.find("vertex 3") + 8) + kAsciiBody;
    const Case cases[] = {
        {"ascii, complete", "m.ply", kAsciiHeader + kAsciiBody, ""},
        {"ascii, CR line ends", "m.ply", kAsciiHeader + "0 0 0\r\n1 0 0\r\n0 1 0\r\n3 0 1 2\r\n",
         ""},
        {"ascii, 2e9 vertices in a few bytes", "m.ply", claims2G, "2000000000 vertex"},
        {"ascii, one element line short", "m.ply", withFewerLines, "declares 5 element lines"},
        {"ascii, last line missing", "m.ply", kAsciiHeader + "0 0 0\n1 0 0\n0 1 0\n\n",
         "declares 4 element lines but its body holds 3"},
        // 3 vertices x 12 bytes + 1 face x (1 + 0) bytes at the least.
        {"binary, exact", "m.ply", binaryPly(3, 1, 37), ""},
        {"binary, one byte short", "m.ply", binaryPly(3, 1, 36), "face elements"},
        {"binary, 2e9 vertices", "m.ply", binaryPly(2000000000, 0, 100), "vertex elements"},
        {"bad count", "m.ply", "ply\nformat ascii 1.0\nelement vertex -3\nend_header\n",
         "not a number"},
        {"bad type", "m.ply",
         "ply\nformat binary_little_endian 1.0\nelement vertex 1\nproperty quad x\nend_header\n",
         "unknown PLY property type"},
        {"no end", "m.ply", "ply\nformat ascii 1.0\nelement vertex 1\n", "without end_header"},
        {"bad format", "m.ply", "ply\nformat text 1.0\nend_header\n", "is not ascii or binary"},
        {"stl, exact", "m.stl", binaryStl(2, 100), ""},
        {"stl, longer", "m.STL", binaryStl(2, 101), ""},
        {"stl, one byte short", "m.stl", binaryStl(2, 99), "declares 2 triangles"},
        {"stl, 4e9 triangles", "m.stl", binaryStl(4000000000u, 50), "declares 4000000000"},
        {"stl, text", "m.stl", "solid x\nendsolid x\n", ""},
        {"stl, short binary", "m.stl", std::string(83, 'x'), "too short"},
        {"stl, empty", "m.stl", "", "too short"},
        {"other formats pass", "m.obj", "v 0 0 0\n", ""},
    };
    expectChecks(cases);
}

// The importer never sees a file the check refuses: a 2e9-vertex PLY fails at once with the
// check's line, and a PLY shorter than its counts no longer loads as if complete.
TEST(MeshPrecheck, LoadingRefusesBeforeImporting) {
    const testing::ScratchFolder scratch("precheck");
    const std::string huge = scratch.path + "/huge.ply";
    std::ofstream(huge) << "ply\nformat ascii 1.0\nelement vertex 2000000000\nproperty float x\n"
                           "property float y\nproperty float z\nelement face 1\nproperty list "
                           "uchar int vertex_indices\nend_header\n0 0 0\n3 0 0 0\n";
    Scene scene;
    std::string error;
    EXPECT_FALSE(loadMeshScene(huge, scene, error));
    EXPECT_NE(error.find(huge + ": PLY declares 2000000000 vertex"), std::string::npos) << error;

    const std::string shortFile = scratch.path + "/short.ply";
    std::ofstream(shortFile) << "ply\nformat ascii 1.0\nelement vertex 4\nproperty float x\n"
                                "property float y\nproperty float z\nelement face 2\nproperty list "
                                "uchar int vertex_indices\nend_header\n0 0 0\n1 0 0\n0 1 0\n"
                                "1 1 0\n3 0 1 2\n";
    EXPECT_FALSE(loadMeshScene(shortFile, scene, error));
    EXPECT_NE(error.find("declares 6 element lines but its body holds 5"), std::string::npos)
        << error;

    const std::string fine = scratch.path + "/fine.ply";
    std::ofstream(fine) << kAsciiHeader << kAsciiBody;
    EXPECT_TRUE(loadMeshScene(fine, scene, error)) << error;
}

TEST(MeshPrecheckDeathTest, FifoIsRefusedWithoutBlocking) {
    const testing::ScratchFolder scratch("precheck_fifo");
    const std::string fifo = scratch.path + "/f.ply";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EXIT(
        {
            ::alarm(5);
            Scene scene;
            std::string error;
            std::exit(!loadMeshScene(fifo, scene, error) &&
                              error.find("not a regular file") != std::string::npos
                          ? 0
                          : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

std::string le32(std::uint32_t v) {
    std::string s;
    for (int i = 0; i < 4; ++i) {
        s.push_back(static_cast<char>(v >> (8 * i)));
    }
    return s;
}

// PLY list lengths must fit in the bytes after them, every ASCII element line must hold all of
// its values, and binary files must not hold much more than they declare.
TEST(MeshPrecheckLists, ListLengthsAndCutLinesAreRefused) {
    const std::string binary =
        "ply\nformat binary_little_endian 1.0\nelement vertex 3\nproperty float x\nproperty "
        "float y\nproperty float z\nelement face 1\nproperty list uint int vertex_indices\n"
        "end_header\n";
    const std::string vertices = std::string(36, '\0');
    const std::string face = le32(3) + le32(0) + le32(1) + le32(2);
    const std::string ascii =
        "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\nproperty "
        "float z\nelement face 2\nproperty list uchar int vertex_indices\nend_header\n"
        "0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n";
    const Case cases[] = {
        {"binary, exact", "m.ply", binary + vertices + face, ""},
        {"binary, a list of 0x18000000 in 220 bytes", "m.ply",
         binary + vertices + le32(0x18000000u) + std::string(8, '\0'),
         "face element 0 has a list of 402653184 entries"},
        {"binary, list one entry past the end", "m.ply",
         binary + vertices + le32(4) + le32(0) + le32(1) + le32(2),
         "has a list of 4 entries (16 bytes) but the file holds only 12"},
        {"binary, signed length negative", "m.ply",
         "ply\nformat binary_little_endian 1.0\nelement face 1\nproperty list char int v\n"
         "end_header\n\xff",
         "a list of negative length"},
        {"binary big endian length", "m.ply",
         "ply\nformat binary_big_endian 1.0\nelement face 1\nproperty list ushort uchar v\n"
         "end_header\n" +
             std::string("\x00\x03", 2) + "abc",
         ""},
        {"binary, float length type", "m.ply",
         "ply\nformat binary_little_endian 1.0\nelement face 1\nproperty list float int v\n"
         "end_header\n" +
             std::string(4, '\0'),
         "is not a whole number"},
        {"binary, 1 MB of trailing bytes", "m.ply",
         binary + vertices + face + std::string(1 << 20, 'x'), ""},
        {"binary, 1 MB and a byte of trailing bytes", "m.ply",
         binary + vertices + face + std::string((1 << 20) + 1, 'x'), "after the elements it"},
        {"ascii, complete", "m.ply", ascii + "3 0 2 1\n", ""},
        {"ascii, cut inside the last face line", "m.ply", ascii + "3 0 2\n",
         "face element 1 is cut short: its line holds 3 of its 4 values"},
        {"ascii, a vertex line short", "m.ply",
         ascii.substr(0, ascii.find("1 0 0\n")) + "1 0\n0 1 0\n3 0 1 2\n3 0 2 1\n",
         "vertex element 1 is cut short"},
        {"ascii, list length not a count", "m.ply", ascii + "x 0 2 1\n", "is not a count"},
        {"ascii, negative list length", "m.ply", ascii + "-1\n", "is not a count"},
        {"stl, 1 MB trailing", "m.stl",
         std::string(80, ' ') + le32(1) + std::string(50 + (1 << 20), '\0'), ""},
        {"stl, 1 MB and a byte trailing", "m.stl",
         std::string(80, ' ') + le32(1) + std::string(50 + (1 << 20) + 1, '\0'),
         "declares 1 triangles (134 bytes) but the file holds 1.00 MB more"},
    };
    expectChecks(cases);
}

// A 4 GB sparse STL is refused from its size before the importer would read it whole.
TEST(MeshPrecheckLists, HugeFilesAreRefusedBeforeTheImporterReadsThem) {
    const testing::ScratchFolder scratch("precheck_huge");
    for (const std::string& head : {std::string("solid big\n"), std::string(80, ' ') + le32(1)}) {
        const std::string path = scratch.path + "/big.stl";
        testing::writeFile(path, head);
        std::filesystem::resize_file(path, std::uint64_t{4} << 30);
        std::string error;
        EXPECT_FALSE(precheckMeshFile(path, error));
        EXPECT_TRUE(error.find("4.00 GB is more than the 2.00 GB") != std::string::npos ||
                    error.find("but the file holds 4.00 GB more") != std::string::npos)
            << error;
    }
}

}  // namespace
}  // namespace strata::maker
