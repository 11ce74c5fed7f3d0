#include "maker/ply_format.h"

#include <array>
#include <cstdio>

#include "maker/ply_face_colours.h"
#include "platform/debug_output.h"
#include "platform/file_io.h"

namespace strata::maker::ply {

namespace {

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

}  // namespace

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

HeaderRead readHeader(const std::string& path, Header& header, std::string& error) {
    std::vector<std::uint8_t> bytes(kMaxPlyHeaderBytes);
    // Only a regular file: a FIFO or device would block or never end.
    std::string problem;
    std::FILE* file = platform::openRegularStream(path, problem);
    if (file == nullptr) {
        return HeaderRead::notPly;
    }
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
    std::fclose(file);
    return headerOf(bytes, header, error);
}

HeaderRead headerOf(const std::vector<std::uint8_t>& bytes, Header& header, std::string& error) {
    if (bytes.size() < 4 || std::memcmp(bytes.data(), "ply", 3) != 0 ||
        (bytes[3] != '\n' && bytes[3] != '\r')) {
        return HeaderRead::notPly;
    }
    return parseHeader(bytes, header, error) ? HeaderRead::read : HeaderRead::malformed;
}

bool checkElementCounts(const std::vector<std::uint8_t>& bytes, const Header& header,
                        std::string& error) {
    std::int64_t remaining = static_cast<std::int64_t>(bytes.size() - header.bodyStart) + 1;
    for (const Element& element : header.elements) {
        const std::int64_t item = smallestItem(element, header.format);
        if (element.count > remaining / item) {
            error =
                platform::formatString("element %s: %lld items cannot fit in the file",
                                       element.name.c_str(), static_cast<long long>(element.count));
            return false;
        }
        remaining -= element.count * item;
    }
    return true;
}

}  // namespace strata::maker::ply
