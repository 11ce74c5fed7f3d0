#include "maker/ply_face_colours.h"

#include "maker/ply_format.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>
#include <vector>

#include "platform/debug_output.h"
#include "platform/file_io.h"

namespace strata::maker {

namespace {

using namespace ply;

// The body of a face-coloured file: vertex positions (and normals), face corner lists and
// face colours.
struct Body {
    std::vector<geometry::Vector3> positions;
    std::vector<geometry::Vector3> normals;
    std::vector<std::uint32_t> corners;
    std::vector<std::uint32_t> faceStart{0};
    std::vector<Colour> faceColours;
};

bool readBody(const std::vector<std::uint8_t>& bytes, const Header& header, Body& body,
              std::string& error) {
    ValueReader reader(bytes, header.bodyStart, header.format);
    const auto bad = [&error](const std::string& element, std::int64_t item) {
        error = platform::formatString("%s %lld: a value is missing or malformed", element.c_str(),
                                       static_cast<long long>(item));
        return false;
    };
    for (const Element& element : header.elements) {
        const bool isVertex = element.name == "vertex";
        const bool isFace = element.name == "face";
        for (std::int64_t item = 0; item < element.count; ++item) {
            double xyz[3] = {0.0, 0.0, 0.0};
            double nxyz[3] = {0.0, 0.0, 0.0};
            float rgb[3] = {1.0f, 1.0f, 1.0f};
            const std::size_t firstCorner = body.corners.size();
            for (const Property& property : element.properties) {
                double value = 0.0;
                if (property.list) {
                    double count = 0.0;
                    if (!reader.read(property.countType, count) || count < 0.0 ||
                        count != std::floor(count)) {
                        return bad(element.name, item);
                    }
                    const bool corners = isFace && (property.name == "vertex_indices" ||
                                                    property.name == "vertex_index");
                    for (double k = 0; k < count; ++k) {
                        if (!reader.read(property.type, value)) {
                            return bad(element.name, item);
                        }
                        if (corners) {
                            if (value < 0.0 || value != std::floor(value) ||
                                value >= static_cast<double>(
                                             std::numeric_limits<std::uint32_t>::max())) {
                                error = platform::formatString(
                                    "face %lld: vertex index %g out of range",
                                    static_cast<long long>(item), value);
                                return false;
                            }
                            body.corners.push_back(static_cast<std::uint32_t>(value));
                        }
                    }
                    continue;
                }
                if (!reader.read(property.type, value)) {
                    return bad(element.name, item);
                }
                int channel = 0;
                if (isVertex) {
                    static constexpr std::string_view kAxes[6] = {"x", "y", "z", "nx", "ny", "nz"};
                    for (std::size_t a = 0; a < 6; ++a) {
                        if (property.name == kAxes[a]) {
                            (a < 3 ? xyz[a] : nxyz[a - 3]) = value;
                        }
                    }
                } else if (isFace && isColourName(property.name, channel)) {
                    rgb[channel] = std::clamp(
                        static_cast<float>(value) / colourScale(property.type), 0.0f, 1.0f);
                }
            }
            if (isVertex) {
                body.positions.push_back({static_cast<float>(xyz[0]), static_cast<float>(xyz[1]),
                                          static_cast<float>(xyz[2])});
                body.normals.push_back({static_cast<float>(nxyz[0]), static_cast<float>(nxyz[1]),
                                        static_cast<float>(nxyz[2])});
            } else if (isFace) {
                if (body.corners.size() - firstCorner < 3) {
                    body.corners.resize(firstCorner);  // a point or a line: no surface
                    continue;
                }
                body.faceStart.push_back(static_cast<std::uint32_t>(body.corners.size()));
                body.faceColours.push_back({rgb[0], rgb[1], rgb[2]});
            }
        }
    }
    return true;
}

}  // namespace

PlyFaceColours readPlyFaceColours(const std::string& path, TriangleMesh& mesh,
                                  std::size_t maxTriangles, std::string& error) {
    // The header first, so that files without face colours are not read whole here. A header
    // this reader does not follow is left to the general importer too.
    std::string problem;
    Header header;
    if (readHeader(path, header, problem) != HeaderRead::read) {
        return PlyFaceColours::absent;
    }
    bool faceColours = false;
    for (const Element& element : header.elements) {
        for (const Property& property : element.properties) {
            int channel = 0;
            faceColours = faceColours || (element.name == "face" && !property.list &&
                                          isColourName(property.name, channel));
        }
    }
    if (!faceColours) {
        return PlyFaceColours::absent;
    }
    const auto fail = [&](const std::string& message) {
        error = path + ": " + message;
        return PlyFaceColours::failed;
    };
    std::vector<std::uint8_t> bytes;
    if (!platform::readWholeFile(path, bytes, problem, static_cast<std::uint64_t>(kMaxPlyBytes))) {
        return fail(problem);
    }
    if (!checkElementCounts(bytes, header, problem)) {
        return fail(problem);
    }
    Body body;
    if (!readBody(bytes, header, body, problem)) {
        return fail(problem);
    }
    std::size_t triangles = 0;
    for (std::size_t f = 0; f + 1 < body.faceStart.size(); ++f) {
        triangles += body.faceStart[f + 1] - body.faceStart[f] - 2;
    }
    if (triangles > maxTriangles) {
        return fail(platform::formatString("more than %zu triangles", maxTriangles));
    }
    for (std::uint32_t corner : body.corners) {
        if (corner >= body.positions.size()) {
            return fail(platform::formatString("vertex index %u out of range (%zu vertices)",
                                               corner, body.positions.size()));
        }
    }
    for (const geometry::Vector3& p : body.positions) {
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
            return fail("a vertex position is beyond the float range");
        }
    }
    bool haveNormals = false;
    for (const Element& element : header.elements) {
        for (const Property& property : element.properties) {
            haveNormals = haveNormals || (element.name == "vertex" && property.name == "nx");
        }
    }
    TriangleMesh result;
    result.positions.reserve(3 * triangles);
    result.colours.reserve(3 * triangles);
    for (std::size_t f = 0; f + 1 < body.faceStart.size(); ++f) {
        const std::uint32_t first = body.faceStart[f];
        for (std::uint32_t k = first + 1; k + 1 < body.faceStart[f + 1]; ++k) {
            for (const std::uint32_t corner :
                 {body.corners[first], body.corners[k], body.corners[k + 1]}) {
                result.indices.push_back(static_cast<std::uint32_t>(result.positions.size()));
                result.positions.push_back(body.positions[corner]);
                result.colours.push_back(body.faceColours[f]);
                if (haveNormals) {
                    result.normals.push_back(body.normals[corner]);
                }
            }
        }
    }
    mesh = std::move(result);
    return PlyFaceColours::read;
}

}  // namespace strata::maker
