#include "maker/mesh_precheck.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <vector>

#include "platform/debug_output.h"
#include "platform/file_io.h"

namespace strata::maker {

namespace {

using platform::formatString;

constexpr std::size_t kMaxPlyHeader = 1 << 20;
constexpr std::size_t kChunk = 1 << 16;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// Reads one header line (without its line end) from in; false at the end of the input or when
// the header grows past kMaxPlyHeader.
bool readLine(std::FILE* in, std::string& line, std::uint64_t& consumed) {
    line.clear();
    for (;;) {
        const int c = std::fgetc(in);
        if (c == EOF) {
            return !line.empty();
        }
        if (++consumed > kMaxPlyHeader) {
            return false;
        }
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            return true;
        }
        line.push_back(static_cast<char>(c));
    }
}

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i])) != 0) {
            ++i;
        }
        const std::size_t start = i;
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i])) == 0) {
            ++i;
        }
        if (i > start) {
            out.push_back(line.substr(start, i - start));
        }
    }
    return out;
}

// Bytes of one value of a PLY scalar type, 0 for an unknown type.
std::uint64_t plyTypeSize(std::string_view type) {
    static constexpr struct {
        std::string_view name;
        std::uint64_t size;
    } kTypes[] = {{"char", 1},  {"int8", 1},    {"uchar", 1},  {"uint8", 1},
                  {"short", 2}, {"int16", 2},   {"ushort", 2}, {"uint16", 2},
                  {"int", 4},   {"int32", 4},   {"uint", 4},   {"uint32", 4},
                  {"float", 4}, {"float32", 4}, {"double", 8}, {"float64", 8}};
    for (const auto& t : kTypes) {
        if (t.name == type) {
            return t.size;
        }
    }
    return 0;
}

struct PlyElement {
    std::string name;
    std::uint64_t count = 0;
    std::uint64_t minBytes = 0;  // binary: fixed properties plus the count of each list
    int properties = 0;
};

// Counts the lines holding anything but white space from the current position to the end.
std::uint64_t countTextLines(std::FILE* in) {
    std::vector<char> chunk(kChunk);
    std::uint64_t lines = 0;
    bool filled = false;
    for (;;) {
        const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), in);
        if (got == 0) {
            break;
        }
        for (std::size_t i = 0; i < got; ++i) {
            const char c = chunk[i];
            if (c == '\n') {
                lines += filled ? 1 : 0;
                filled = false;
            } else if (std::isspace(static_cast<unsigned char>(c)) == 0) {
                filled = true;
            }
        }
    }
    return lines + (filled ? 1 : 0);
}

std::string checkPly(std::FILE* in, std::uint64_t size) {
    std::uint64_t consumed = 0;
    std::string line;
    if (!readLine(in, line, consumed) || line != "ply") {
        return "not a PLY header";
    }
    std::string format;
    std::vector<PlyElement> elements;
    for (;;) {
        if (!readLine(in, line, consumed)) {
            return consumed > kMaxPlyHeader ? "PLY header longer than 1 MB"
                                            : "PLY header without end_header";
        }
        const auto w = words(line);
        if (w.empty() || w[0] == "comment" || w[0] == "obj_info") {
            continue;
        }
        if (w[0] == "end_header") {
            break;
        }
        if (w[0] == "format" && w.size() >= 2) {
            format = std::string(w[1]);
        } else if (w[0] == "element" && w.size() == 3) {
            PlyElement element;
            element.name = std::string(w[1]);
            const auto result =
                std::from_chars(w[2].data(), w[2].data() + w[2].size(), element.count);
            if (result.ec != std::errc() || result.ptr != w[2].data() + w[2].size()) {
                return formatString("PLY element %s has a count \"%.*s\" that is not a number",
                                    element.name.c_str(), static_cast<int>(w[2].size()),
                                    w[2].data());
            }
            elements.push_back(element);
        } else if (w[0] == "property" && !elements.empty()) {
            const bool list = w.size() == 5 && w[1] == "list";
            if (!list && w.size() != 3) {
                return "malformed PLY property line";
            }
            const std::uint64_t bytes = plyTypeSize(w[list ? 2 : 1]);
            if (bytes == 0 || (list && plyTypeSize(w[3]) == 0)) {
                return "unknown PLY property type in \"" + line.substr(0, 80) + "\"";
            }
            elements.back().minBytes += bytes;
            ++elements.back().properties;
        } else {
            return "unexpected PLY header line \"" + line.substr(0, 80) + "\"";
        }
    }
    const std::uint64_t body = size > consumed ? size - consumed : 0;
    if (format == "ascii") {
        // Every element takes one line of its own.
        std::uint64_t total = 0;
        for (const PlyElement& e : elements) {
            if (e.count > body || total + e.count > body) {
                return formatString("PLY declares %" PRIu64
                                    " %s elements but its body holds only "
                                    "%" PRIu64 " bytes",
                                    e.count, e.name.c_str(), body);
            }
            total += e.count;
        }
        const std::uint64_t lines = countTextLines(in);
        if (lines < total) {
            return formatString(
                "PLY declares %" PRIu64 " element lines but its body holds %" PRIu64, total, lines);
        }
        return {};
    }
    if (format != "binary_little_endian" && format != "binary_big_endian") {
        return "PLY format \"" + format.substr(0, 40) + "\" is not ascii or binary";
    }
    std::uint64_t need = 0;
    for (const PlyElement& e : elements) {
        // An element without properties still costs the importer an entry each.
        const std::uint64_t each = std::max<std::uint64_t>(e.minBytes, 1);
        if (e.count > (body - need) / each) {
            return formatString("PLY declares %" PRIu64 " %s elements of at least %" PRIu64
                                " bytes but its body holds %" PRIu64 " bytes",
                                e.count, e.name.c_str(), each, body);
        }
        need += e.count * each;
    }
    return {};
}

bool endsWithNoCase(std::string_view name, std::string_view suffix) {
    return name.size() >= suffix.size() &&
           std::equal(suffix.begin(), suffix.end(), name.end() - static_cast<long>(suffix.size()),
                      [](char a, char b) {
                          return std::tolower(static_cast<unsigned char>(a)) ==
                                 std::tolower(static_cast<unsigned char>(b));
                      });
}

std::string checkStl(std::FILE* in, std::uint64_t size) {
    std::uint8_t head[84] = {};
    const std::size_t got = std::fread(head, 1, sizeof(head), in);
    std::size_t first = 0;
    while (first < got && std::isspace(head[first]) != 0) {
        ++first;
    }
    const bool solid = got - first >= 5 && std::equal(head + first, head + first + 5, "solid");
    if (got < sizeof(head)) {
        return solid ? std::string() : "too short for a binary STL (84-byte header)";
    }
    const std::uint64_t triangles = std::uint64_t{head[80]} | std::uint64_t{head[81]} << 8 |
                                    std::uint64_t{head[82]} << 16 | std::uint64_t{head[83]} << 24;
    const std::uint64_t need = 84 + 50 * triangles;
    // A text STL begins with "solid" and carries no count; a binary one may too, and is then
    // known by its exact size.
    if (size >= need || solid) {
        return {};
    }
    return formatString("binary STL declares %" PRIu64 " triangles (%" PRIu64
                        " bytes) but the file holds %" PRIu64 " bytes",
                        triangles, need, size);
}

std::string checkStream(std::string_view name, std::FILE* in, std::uint64_t size) {
    char magic[4] = {};
    const std::size_t got = std::fread(magic, 1, sizeof(magic), in);
    std::rewind(in);
    if (got >= 4 && magic[0] == 'p' && magic[1] == 'l' && magic[2] == 'y' &&
        (magic[3] == '\n' || magic[3] == '\r')) {
        return checkPly(in, size);
    }
    if (endsWithNoCase(name, ".stl")) {
        return checkStl(in, size);
    }
    return {};
}

}  // namespace

bool precheckMeshFile(const std::string& path, std::string& error) {
    std::string problem;
    std::unique_ptr<std::FILE, FileCloser> file(platform::openRegularStream(path, problem));
    if (!file) {
        error = path + ": " + problem;
        return false;
    }
    const auto size = platform::fileSize(path);
    problem = size ? checkStream(path, file.get(), *size) : "not a regular file";
    if (!problem.empty()) {
        error = path + ": " + problem;
        return false;
    }
    return true;
}

std::string precheckMeshBytes(std::string_view name, std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) {
        return endsWithNoCase(name, ".stl") ? "too short for a binary STL (84-byte header)" : "";
    }
    std::unique_ptr<std::FILE, FileCloser> file(
        ::fmemopen(const_cast<std::uint8_t*>(bytes.data()), bytes.size(), "rb"));
    if (!file) {
        return "cannot read the bytes";
    }
    return checkStream(name, file.get(), bytes.size());
}

}  // namespace strata::maker
