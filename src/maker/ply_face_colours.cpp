#include "maker/ply_face_colours.h"

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

enum class Type { int8, uint8, int16, uint16, int32, uint32, float32, float64 };
enum class Format { ascii, littleEndian, bigEndian };

struct TypeName {
    std::string_view name;
    Type type;
};
constexpr std::array<TypeName, 16> kTypeNames{{
    {"char", Type::int8},
    {"int8", Type::int8},
    {"uchar", Type::uint8},
    {"uint8", Type::uint8},
    {"short", Type::int16},
    {"int16", Type::int16},
    {"ushort", Type::uint16},
    {"uint16", Type::uint16},
    {"int", Type::int32},
    {"int32", Type::int32},
    {"uint", Type::uint32},
    {"uint32", Type::uint32},
    {"float", Type::float32},
    {"float32", Type::float32},
    {"double", Type::float64},
    {"float64", Type::float64},
}};

std::int64_t sizeOf(Type type) {
    switch (type) {
        case Type::int8:
        case Type::uint8:
            return 1;
        case Type::int16:
        case Type::uint16:
            return 2;
        case Type::int32:
        case Type::uint32:
        case Type::float32:
            return 4;
        case Type::float64:
            break;
    }
    return 8;
}

bool typeOf(std::string_view name, Type& type) {
    for (const TypeName& entry : kTypeNames) {
        if (entry.name == name) {
            type = entry.type;
            return true;
        }
    }
    return false;
}

// What a colour value of a type is divided by to give 0..1.
float colourScale(Type type) {
    switch (type) {
        case Type::float32:
        case Type::float64:
            return 1.0f;
        case Type::uint16:
            return 65535.0f;
        default:
            break;
    }
    return 255.0f;
}

struct Property {
    std::string name;
    Type type = Type::uint8;
    bool list = false;
    Type countType = Type::uint8;
};

struct Element {
    std::string name;
    std::int64_t count = 0;
    std::vector<Property> properties;
};

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) {
            ++i;
        }
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') {
            ++i;
        }
        if (i > start) {
            out.push_back(line.substr(start, i - start));
        }
    }
    return out;
}

// Reads the values of the body one by one, in the file's format.
class ValueReader {
  public:
    ValueReader(const std::vector<std::uint8_t>& bytes, std::size_t start, Format format)
        : bytes_(bytes), at_(start), format_(format) {}

    bool read(Type type, double& value) {
        if (format_ == Format::ascii) {
            return readText(value);
        }
        const auto size = static_cast<std::size_t>(sizeOf(type));
        if (bytes_.size() - at_ < size) {
            return false;
        }
        std::uint8_t raw[8];
        std::memcpy(raw, bytes_.data() + at_, size);
        at_ += size;
        if (format_ == Format::bigEndian) {
            std::reverse(raw, raw + size);
        }
        value = decode(type, raw);
        return std::isfinite(value);
    }

  private:
    static double decode(Type type, const std::uint8_t* raw) {
        switch (type) {
            case Type::int8:
                return static_cast<std::int8_t>(raw[0]);
            case Type::uint8:
                return raw[0];
            case Type::int16: {
                std::int16_t v;
                std::memcpy(&v, raw, 2);
                return v;
            }
            case Type::uint16: {
                std::uint16_t v;
                std::memcpy(&v, raw, 2);
                return v;
            }
            case Type::int32: {
                std::int32_t v;
                std::memcpy(&v, raw, 4);
                return v;
            }
            case Type::uint32: {
                std::uint32_t v;
                std::memcpy(&v, raw, 4);
                return v;
            }
            case Type::float32: {
                float v;
                std::memcpy(&v, raw, 4);
                return v;
            }
            case Type::float64:
                break;
        }
        double v;
        std::memcpy(&v, raw, 8);
        return v;
    }

    bool readText(double& value) {
        const auto space = [](std::uint8_t c) {
            return c == ' ' || c == '\t' || c == '\n' || c == '\r';
        };
        while (at_ < bytes_.size() && space(bytes_[at_])) {
            ++at_;
        }
        std::size_t end = at_;
        while (end < bytes_.size() && !space(bytes_[end])) {
            ++end;
        }
        if (end == at_) {
            return false;
        }
        const char* first = reinterpret_cast<const char*>(bytes_.data() + at_);
        const char* last = reinterpret_cast<const char*>(bytes_.data() + end);
        const auto result = std::from_chars(first, last, value);
        at_ = end;
        return result.ec == std::errc() && result.ptr == last && std::isfinite(value);
    }

    const std::vector<std::uint8_t>& bytes_;
    std::size_t at_;
    Format format_;
};

bool isColourName(std::string_view name, int& channel) {
    static constexpr std::array<std::string_view, 3> kNames[] = {
        {"red", "green", "blue"},
        {"r", "g", "b"},
        {"diffuse_red", "diffuse_green", "diffuse_blue"}};
    for (const auto& names : kNames) {
        for (std::size_t c = 0; c < 3; ++c) {
            if (names[c] == name) {
                channel = static_cast<int>(c);
                return true;
            }
        }
    }
    return false;
}

struct Header {
    Format format = Format::ascii;
    std::vector<Element> elements;
    std::size_t bodyStart = 0;
};

// Parses the header held at the start of `bytes`. False with `error` for a malformed one.
bool parseHeader(const std::vector<std::uint8_t>& bytes, Header& header, std::string& error) {
    const std::size_t limit = std::min(bytes.size(), kMaxPlyHeaderBytes);
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), limit);
    std::size_t at = 0;
    bool haveFormat = false;
    for (int line = 0;; ++line) {
        const std::size_t newline = text.find('\n', at);
        if (newline == std::string_view::npos) {
            error = "the header has no end_header line within its first 65536 bytes";
            return false;
        }
        std::string_view row = text.substr(at, newline - at);
        at = newline + 1;
        if (!row.empty() && row.back() == '\r') {
            row.remove_suffix(1);
        }
        const std::vector<std::string_view> w = words(row);
        if (line == 0) {
            continue;  // "ply", checked by the caller
        }
        if (w.empty() || w[0] == "comment" || w[0] == "obj_info") {
            continue;
        }
        if (w[0] == "end_header") {
            if (!haveFormat) {
                error = "the header names no format";
                return false;
            }
            header.bodyStart = at;
            return true;
        }
        if (w[0] == "format") {
            if (w.size() != 3 || w[2] != "1.0") {
                error = "unknown format line";
                return false;
            }
            if (w[1] == "ascii") {
                header.format = Format::ascii;
            } else if (w[1] == "binary_little_endian") {
                header.format = Format::littleEndian;
            } else if (w[1] == "binary_big_endian") {
                header.format = Format::bigEndian;
            } else {
                error = "unknown format \"" + std::string(w[1]) + "\"";
                return false;
            }
            haveFormat = true;
        } else if (w[0] == "element") {
            std::int64_t count = -1;
            if (w.size() != 3 ||
                std::from_chars(w[2].data(), w[2].data() + w[2].size(), count).ptr !=
                    w[2].data() + w[2].size() ||
                count < 0) {
                error = "malformed element line";
                return false;
            }
            if (header.elements.size() == kMaxPlyElements) {
                error = platform::formatString("more than %zu elements", kMaxPlyElements);
                return false;
            }
            header.elements.push_back(Element{std::string(w[1]), count, {}});
        } else if (w[0] == "property") {
            if (header.elements.empty()) {
                error = "a property before any element";
                return false;
            }
            Element& element = header.elements.back();
            if (element.properties.size() == kMaxPlyProperties) {
                error = platform::formatString("more than %zu properties in element %s",
                                               kMaxPlyProperties, element.name.c_str());
                return false;
            }
            Property property;
            const bool ok = w.size() >= 2 && w[1] == "list"
                                ? w.size() == 5 && typeOf(w[2], property.countType) &&
                                      typeOf(w[3], property.type)
                                : w.size() == 3 && typeOf(w[1], property.type);
            if (!ok) {
                error = "malformed property line";
                return false;
            }
            property.list = w[1] == "list";
            property.name = std::string(w.back());
            element.properties.push_back(property);
        } else {
            error = "unknown header line \"" + std::string(row.substr(0, 40)) + "\"";
            return false;
        }
    }
}

// The fewest bytes one item of an element takes in the body.
std::int64_t smallestItem(const Element& element, Format format) {
    std::int64_t bytes = 0;
    for (const Property& property : element.properties) {
        if (format == Format::ascii) {
            bytes += 2;  // a digit and a separator
        } else {
            bytes += property.list ? sizeOf(property.countType) : sizeOf(property.type);
        }
    }
    return std::max<std::int64_t>(bytes, 1);
}

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
    std::vector<std::uint8_t> bytes(kMaxPlyHeaderBytes);
    {
        std::string openProblem;
        std::FILE* file = platform::openRegularStream(path, openProblem);
        if (file == nullptr) {
            return PlyFaceColours::absent;
        }
        bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
        std::fclose(file);
    }
    if (bytes.size() < 4 || std::memcmp(bytes.data(), "ply", 3) != 0 ||
        (bytes[3] != '\n' && bytes[3] != '\r')) {
        return PlyFaceColours::absent;
    }
    std::string problem;
    Header header;
    if (!parseHeader(bytes, header, problem)) {
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
    if (!platform::readWholeFile(path, bytes, problem, static_cast<std::uint64_t>(kMaxPlyBytes))) {
        return fail(problem);
    }
    // Every element count must fit in what the file holds before anything is stored.
    std::int64_t remaining = static_cast<std::int64_t>(bytes.size() - header.bodyStart) + 1;
    for (const Element& element : header.elements) {
        const std::int64_t item = smallestItem(element, header.format);
        if (element.count > remaining / item) {
            return fail(platform::formatString("element %s: %lld items cannot fit in the file",
                                               element.name.c_str(),
                                               static_cast<long long>(element.count)));
        }
        remaining -= element.count * item;
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
