// The polyhedron text file (counts, positions, face vertex lists) and the printed layouts. The
// file is untrusted: every number is checked as it is read and the reader's fixed capacity is
// enforced before anything is stored.
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "mesh/polyhedron.h"
#include "mesh/polyhedron_internal.h"
#include "platform/debug_output.h"
#include "platform/file_io.h"

namespace strata::mesh {

namespace {

constexpr std::int32_t kMaxFileVertices = 25;
constexpr std::int32_t kMaxFileFaces = 25;
constexpr std::int32_t kMaxFileIndices = 128;
constexpr std::size_t kMaxTokenLength = 64;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// Whitespace-separated tokens of an open file.
class TokenReader {
  public:
    explicit TokenReader(std::FILE* file) : file_(file) {}

    // The next token, or false at the end of the file or for a token too long to be a number.
    bool next(std::string& token) {
        token.clear();
        int c = std::fgetc(file_);
        while (c != EOF && std::isspace(c)) {
            c = std::fgetc(file_);
        }
        while (c != EOF && !std::isspace(c)) {
            if (token.size() >= kMaxTokenLength) {
                return false;
            }
            token.push_back(static_cast<char>(c));
            c = std::fgetc(file_);
        }
        return !token.empty();
    }

    bool readInt(std::int32_t& value) { return readNumber(value); }

    bool readFloat(float& value) { return readNumber(value) && std::isfinite(value); }

  private:
    // One whitespace-separated token read whole as a number (a leading '+' allowed).
    template <typename T>
    bool readNumber(T& value) {
        std::string token;
        if (!next(token)) {
            return false;
        }
        const char* first = token.data();
        const char* last = token.data() + token.size();
        if (first != last && *first == '+') {
            ++first;
        }
        const auto [ptr, ec] = std::from_chars(first, last, value);
        return ec == std::errc() && ptr == last;
    }

    std::FILE* file_;
};

const void* address(const auto& records, std::int32_t i) {
    return i >= 0 && static_cast<std::size_t>(i) < records.size()
               ? static_cast<const void*>(&records[static_cast<std::size_t>(i)])
               : nullptr;
}

}  // namespace

int ReadPolyhedron(const char* path, Polyhedron& polyhedron) {
    std::string openError;
    std::unique_ptr<std::FILE, FileCloser> file(
        path != nullptr ? platform::openRegularStream(path, openError) : nullptr);
    if (!file) {
        platform::debugPrintf("ReadPolyhedron: can't open %s\n",
                              path != nullptr ? path : "(no path)");
        return 0;
    }
    TokenReader in(file.get());
    auto refuse = [&](const std::string& problem) {
        platform::debugPrintf("ReadPolyhedron: %s: %s\n", path, problem.c_str());
        return 0;
    };

    std::int32_t numV = 0, numF = 0, ignored = 0;
    if (!in.readInt(numV) || !in.readInt(numF) || !in.readInt(ignored)) {
        return refuse("missing or malformed count in the first line");
    }
    if (numV < 0 || numF < 0) {
        return refuse(platform::formatString("negative count (%d vertices, %d faces)", numV, numF));
    }
    if (numV > kMaxFileVertices) {
        return refuse(platform::formatString("%d vertices exceed the capacity of %d", numV,
                                             kMaxFileVertices));
    }
    if (numF > kMaxFileFaces) {
        return refuse(
            platform::formatString("%d faces exceed the capacity of %d", numF, kMaxFileFaces));
    }
    std::vector<geometry::Vector3> positions(static_cast<std::size_t>(numV));
    for (std::int32_t v = 0; v < numV; ++v) {
        geometry::Vector3& p = positions[static_cast<std::size_t>(v)];
        if (!in.readFloat(p.x) || !in.readFloat(p.y) || !in.readFloat(p.z)) {
            return refuse(platform::formatString("missing or malformed position of vertex %d", v));
        }
    }
    std::vector<std::int32_t> sizes(static_cast<std::size_t>(numF));
    std::vector<std::int32_t> indices;
    for (std::int32_t f = 0; f < numF; ++f) {
        std::int32_t n = 0;
        if (!in.readInt(n)) {
            return refuse(
                platform::formatString("missing or malformed vertex count of face %d", f));
        }
        if (n < 3) {
            return refuse(
                platform::formatString("face %d has %d vertices (at least 3 needed)", f, n));
        }
        if (n > kMaxFileIndices - static_cast<std::int32_t>(indices.size())) {
            return refuse(
                platform::formatString("face indices exceed the capacity of %d", kMaxFileIndices));
        }
        sizes[static_cast<std::size_t>(f)] = n;
        for (std::int32_t k = 0; k < n; ++k) {
            std::int32_t index = 0;
            if (!in.readInt(index)) {
                return refuse(
                    platform::formatString("missing or malformed vertex index in face %d", f));
            }
            if (index < 0 || index >= numV) {
                return refuse(platform::formatString("face %d refers to vertex %d outside 0..%d", f,
                                                     index, numV - 1));
            }
            indices.push_back(index);
        }
    }
    std::string error;
    if (detail::buildPolyhedron(polyhedron, indices, sizes, positions, 0, error) == 0) {
        return refuse(error);
    }
    return 1;
}

void DumpPolyhedron(const Polyhedron& polyhedron, const char* title, std::FILE* out) {
    const Polyhedron& p = polyhedron;
    std::fprintf(out, "\n %s -- Halden Data Structure Dump --\n", title != nullptr ? title : "");
    std::fprintf(out, "Vertices:\n");
    for (std::size_t i = 0; i < p.vertices.size(); ++i) {
        const MeshVertex& v = p.vertices[i];
        std::fprintf(out, "  vert[%d]:: addr: %p   position:( %f,  %f,  %f ) edge: %p\n",
                     static_cast<int>(i), static_cast<const void*>(&v), v.x, v.y, v.z,
                     address(p.edges, v.edge));
    }
    std::fprintf(out, "Edges:\n");
    for (std::size_t i = 0; i < p.edges.size(); ++i) {
        const MeshEdge& e = p.edges[i];
        std::fprintf(out, "  edge[%d]:: addr: %p   vert1: %p  vert2: %p  face1: %p  face2: %p\n",
                     static_cast<int>(i), static_cast<const void*>(&e),
                     address(p.vertices, e.vertex1), address(p.vertices, e.vertex2),
                     address(p.faces, e.face1), address(p.faces, e.face2));
    }
    std::fprintf(out, "Faces:\n");
    for (std::size_t i = 0; i < p.faces.size(); ++i) {
        const MeshFace& f = p.faces[i];
        std::fprintf(out, "  face[%d]:: addr: %p   numVerts = %d  edge: %p  eqn: %f %f %f %f\n",
                     static_cast<int>(i), static_cast<const void*>(&f), f.order,
                     address(p.edges, f.edge), f.plane.a, f.plane.b, f.plane.c, f.plane.d);
    }
}

void PrintPolyhedron(const Polyhedron& polyhedron, std::FILE* out) {
    const Polyhedron& p = polyhedron;
    for (std::size_t i = 0; i < p.vertices.size(); ++i) {
        const MeshVertex& v = p.vertices[i];
        std::fprintf(out, " vertex [ %d ] at ( %g , %g , %g ) with order %d and edge %d\n",
                     static_cast<int>(i), v.x, v.y, v.z, v.order, v.edge);
    }
    for (std::size_t i = 0; i < p.edges.size(); ++i) {
        const MeshEdge& e = p.edges[i];
        std::fprintf(out, " edge [ %d ] connects ( %d , %d ) separates ( %d , %d ) ",
                     static_cast<int>(i), e.vertex1, e.vertex2, e.face1, e.face2);
        std::fprintf(out, "neighbors ( ( %d , %d ) , ( %d , %d ) )\n", e.next1, e.prev1, e.next2,
                     e.prev2);
    }
    for (std::size_t i = 0; i < p.faces.size(); ++i) {
        const MeshFace& f = p.faces[i];
        std::fprintf(out, " face [ %d ] plane equation ( %g , %g , %g , %g ) ", static_cast<int>(i),
                     f.plane.a, f.plane.b, f.plane.c, f.plane.d);
        std::fprintf(out, "with order %d and edge %d\n", f.order, f.edge);
    }
}

void WritePolyhedron(const Polyhedron& polyhedron, std::FILE* out) {
    const Polyhedron& p = polyhedron;
    std::fprintf(out, " %d %d 12\n", p.numVertices(), p.numFaces());
    for (const MeshVertex& v : p.vertices) {
        std::fprintf(out, "%f %f %f \n", v.x, v.y, v.z);
    }
    for (std::size_t f = 0; f < p.faces.size(); ++f) {
        std::fprintf(out, "%d ", p.faces[f].order);
        for (const std::int32_t v : FaceVertices(p, static_cast<std::int32_t>(f))) {
            std::fprintf(out, " %d ", v);
        }
        std::fprintf(out, "\n");
    }
}

void WritePolyhedronBlock(const Polyhedron& polyhedron, std::FILE* out) {
    const Polyhedron& p = polyhedron;
    std::fprintf(out, "\nNEXT ONE\n\n");
    std::fprintf(out, " %d %d %d\n", p.numVertices(), p.numFaces(), p.numEdges());
    for (const MeshVertex& v : p.vertices) {
        std::fprintf(out, " %g  %g  %g \n", v.x, v.y, v.z);
    }
    for (std::size_t f = 0; f < p.faces.size(); ++f) {
        std::fprintf(out, " %d", p.faces[f].order);
        for (const std::int32_t v : FaceVertices(p, static_cast<std::int32_t>(f))) {
            std::fprintf(out, " %d ", v);
        }
        std::fprintf(out, "\n");
    }
}

}  // namespace strata::mesh
