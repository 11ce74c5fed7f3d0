#include "maker/mesh_precheck.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/debug_output.h"
#include "platform/file_io.h"
#include "platform/number_parse.h"

namespace strata::maker {

namespace {

using platform::formatString;

constexpr std::size_t kMaxPlyHeader = 1 << 20;
constexpr std::size_t kChunk = 1 << 16;
// Bytes a binary PLY or STL may carry after what its header declares.
constexpr std::uint64_t kMaxTrailingBytes = std::uint64_t{1} << 20;

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

// Bytes of one value of a PLY scalar type (0 for an unknown type), and whether it is a whole
// number and signed.
struct PlyType {
    std::uint64_t size = 0;
    bool whole = false;
    bool isSigned = false;
};

PlyType plyType(std::string_view type) {
    static constexpr struct {
        std::string_view name;
        PlyType type;
    } kTypes[] = {
        {"char", {1, true, true}},    {"int8", {1, true, true}},     {"uchar", {1, true, false}},
        {"uint8", {1, true, false}},  {"short", {2, true, true}},    {"int16", {2, true, true}},
        {"ushort", {2, true, false}}, {"uint16", {2, true, false}},  {"int", {4, true, true}},
        {"int32", {4, true, true}},   {"uint", {4, true, false}},    {"uint32", {4, true, false}},
        {"float", {4, false, true}},  {"float32", {4, false, true}}, {"double", {8, false, true}},
        {"float64", {8, false, true}}};
    for (const auto& t : kTypes) {
        if (t.name == type) {
            return t.type;
        }
    }
    return {};
}

struct PlyProperty {
    bool list = false;
    PlyType value;  // the scalar, or a list's entries
    PlyType count;  // a list's length
};

struct PlyElement {
    std::string name;
    std::uint64_t count = 0;
    std::uint64_t minBytes = 0;  // binary: fixed properties plus the length of each list
    std::vector<PlyProperty> properties;
    bool hasList = false;
};

// The body after the header, read in chunks: bytes taken or skipped, never past its end.
class BodyReader {
  public:
    BodyReader(std::FILE* in, std::uint64_t bytes) : in_(in), left_(bytes), chunk_(kChunk) {}

    std::uint64_t left() const { return left_; }

    // Copies the next n (at most 8) bytes to out; false at the end of the body.
    bool take(std::size_t n, std::uint8_t* out) {
        if (n > left_ || !fill(n)) {
            return false;
        }
        std::memcpy(out, chunk_.data() + at_, n);
        at_ += n;
        left_ -= n;
        return true;
    }

    bool skip(std::uint64_t n) {
        if (n > left_) {
            return false;
        }
        const std::uint64_t buffered = held();
        if (n <= buffered) {
            at_ += static_cast<std::size_t>(n);
        } else {
            if (::fseeko(in_, static_cast<off_t>(n - buffered), SEEK_CUR) != 0) {
                return false;
            }
            at_ = end_ = 0;
        }
        left_ -= n;
        return true;
    }

    // The next line without its line end (and CR); false at the end of the body.
    bool line(std::string& text) {
        text.clear();
        if (left_ == 0) {
            return false;
        }
        while (left_ > 0) {
            if (held() == 0 && !fill(1)) {
                break;
            }
            const char c = static_cast<char>(chunk_[at_++]);
            --left_;
            if (c == '\n') {
                break;
            }
            text.push_back(c);
        }
        return true;
    }

  private:
    std::uint64_t held() const { return end_ - at_; }

    bool fill(std::size_t n) {
        if (held() >= n) {
            return true;
        }
        const std::size_t kept = static_cast<std::size_t>(held());
        std::memmove(chunk_.data(), chunk_.data() + at_, kept);
        at_ = 0;
        end_ = kept + std::fread(chunk_.data() + kept, 1, chunk_.size() - kept, in_);
        return held() >= n;
    }

    std::FILE* in_;
    std::uint64_t left_;
    std::vector<std::uint8_t> chunk_;
    std::size_t at_ = 0;
    std::size_t end_ = 0;
};

// A list length stored in `type.size` bytes; false for a negative one.
bool decodeCount(const std::uint8_t* bytes, const PlyType& type, bool bigEndian,
                 std::uint64_t& count) {
    std::uint64_t raw = 0;
    for (std::uint64_t i = 0; i < type.size; ++i) {
        raw = raw << 8 | bytes[bigEndian ? i : type.size - 1 - i];
    }
    if (type.isSigned && (raw >> (8 * type.size - 1)) != 0) {
        return false;
    }
    count = raw;
    return true;
}

// Walks every element of a binary body: each list's length must fit in the bytes left, so the
// importer never reserves more than the file holds. `trailing` receives the bytes after the last
// element. Returns "" or the problem.
std::string walkBinaryBody(BodyReader& body, const std::vector<PlyElement>& elements,
                           bool bigEndian, std::uint64_t& trailing) {
    for (const PlyElement& e : elements) {
        if (!e.hasList) {
            if (!body.skip(e.count * e.minBytes)) {
                return formatString("PLY body ends inside its %s elements", e.name.c_str());
            }
            continue;
        }
        for (std::uint64_t i = 0; i < e.count; ++i) {
            for (const PlyProperty& p : e.properties) {
                if (!p.list) {
                    if (!body.skip(p.value.size)) {
                        return formatString("PLY body ends inside %s element %" PRIu64,
                                            e.name.c_str(), i);
                    }
                    continue;
                }
                std::uint8_t bytes[8] = {};
                std::uint64_t length = 0;
                if (!body.take(static_cast<std::size_t>(p.count.size), bytes)) {
                    return formatString("PLY body ends inside %s element %" PRIu64, e.name.c_str(),
                                        i);
                }
                if (!decodeCount(bytes, p.count, bigEndian, length)) {
                    return formatString("PLY %s element %" PRIu64 " has a list of negative length",
                                        e.name.c_str(), i);
                }
                if (length > body.left() / p.value.size) {
                    return formatString(
                        "PLY %s element %" PRIu64 " has a list of %" PRIu64 " entries (%" PRIu64
                        " bytes) but the file holds only %" PRIu64 " bytes after it",
                        e.name.c_str(), i, length, length * p.value.size, body.left());
                }
                body.skip(length * p.value.size);
            }
        }
    }
    trailing = body.left();
    return {};
}

// Walks every element line of an ASCII body: each must hold all of its values, a list's length
// followed by that many entries. Returns "" or the problem.
std::string walkAsciiBody(BodyReader& body, const std::vector<PlyElement>& elements,
                          std::uint64_t declaredLines) {
    std::string text;
    std::uint64_t lines = 0;
    for (const PlyElement& e : elements) {
        for (std::uint64_t i = 0; i < e.count; ++i) {
            std::vector<std::string_view> tokens;
            do {
                if (!body.line(text)) {
                    return formatString("PLY declares %" PRIu64
                                        " element lines but its body holds %" PRIu64,
                                        declaredLines, lines);
                }
                tokens = words(text);
            } while (tokens.empty());
            ++lines;
            std::uint64_t needed = 0;  // values the line must hold so far
            for (const PlyProperty& p : e.properties) {
                const std::uint64_t at = needed++;
                if (!p.list || at >= tokens.size()) {
                    continue;
                }
                std::int64_t length = 0;
                const std::string_view token = tokens[static_cast<std::size_t>(at)];
                const auto result =
                    std::from_chars(token.data(), token.data() + token.size(), length);
                if (result.ec != std::errc() || result.ptr != token.data() + token.size() ||
                    length < 0) {
                    return formatString(
                        "PLY %s element %" PRIu64 " has a list length \"%.*s\" that is not a count",
                        e.name.c_str(), i,
                        static_cast<int>(std::min<std::size_t>(token.size(), 40)), token.data());
                }
                needed += static_cast<std::uint64_t>(length);
            }
            if (needed > tokens.size()) {
                return formatString("PLY %s element %" PRIu64
                                    " is cut short: its line holds %zu of its %" PRIu64 " values",
                                    e.name.c_str(), i, tokens.size(), needed);
            }
        }
    }
    return {};
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
            element.name = std::string(w[1]).substr(0, 64);
            const auto result =
                std::from_chars(w[2].data(), w[2].data() + w[2].size(), element.count);
            if (result.ec != std::errc() || result.ptr != w[2].data() + w[2].size()) {
                return formatString("PLY element %s has a count \"%.*s\" that is not a number",
                                    element.name.c_str(),
                                    static_cast<int>(std::min<std::size_t>(w[2].size(), 40)),
                                    w[2].data());
            }
            elements.push_back(element);
        } else if (w[0] == "property" && !elements.empty()) {
            const bool list = w.size() == 5 && w[1] == "list";
            if (!list && w.size() != 3) {
                return "malformed PLY property line";
            }
            PlyProperty property;
            property.list = list;
            property.value = plyType(w[list ? 3 : 1]);
            property.count = list ? plyType(w[2]) : PlyType{};
            if (property.value.size == 0 || (list && property.count.size == 0)) {
                return "unknown PLY property type in \"" + line.substr(0, 80) + "\"";
            }
            if (list && !property.count.whole) {
                return "PLY list length type in \"" + line.substr(0, 80) +
                       "\" is not a whole number";
            }
            PlyElement& element = elements.back();
            element.minBytes += list ? property.count.size : property.value.size;
            element.hasList = element.hasList || list;
            element.properties.push_back(property);
        } else {
            return "unexpected PLY header line \"" + line.substr(0, 80) + "\"";
        }
    }
    const std::uint64_t body = size > consumed ? size - consumed : 0;
    BodyReader reader(in, body);
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
        return walkAsciiBody(reader, elements, total);
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
    std::uint64_t trailing = 0;
    const std::string problem =
        walkBinaryBody(reader, elements, format == "binary_big_endian", trailing);
    if (!problem.empty()) {
        return problem;
    }
    if (trailing > kMaxTrailingBytes) {
        return formatString("PLY holds %s after the elements it declares",
                            platform::formatByteCount(trailing).c_str());
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

// "" for a sound STL; `sized` says whether its header accounts for its size (binary).
std::string checkStl(std::FILE* in, std::uint64_t size, bool& sized) {
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
    if (solid && size != need) {
        return {};
    }
    if (size < need) {
        return formatString("binary STL declares %" PRIu64 " triangles (%" PRIu64
                            " bytes) but the file holds %" PRIu64 " bytes",
                            triangles, need, size);
    }
    if (size - need > kMaxTrailingBytes) {
        return formatString("binary STL declares %" PRIu64 " triangles (%" PRIu64
                            " bytes) but the file holds %s more",
                            triangles, need, platform::formatByteCount(size - need).c_str());
    }
    sized = true;
    return {};
}

bool isPly(std::FILE* in) {
    char magic[4] = {};
    const std::size_t got = std::fread(magic, 1, sizeof(magic), in);
    std::rewind(in);
    return got >= 4 && magic[0] == 'p' && magic[1] == 'l' && magic[2] == 'y' &&
           (magic[3] == '\n' || magic[3] == '\r');
}

std::string checkStream(std::string_view name, std::FILE* in, std::uint64_t size) {
    // A binary PLY or STL is sized by its header; anything else is held to the size cap.
    bool sized = false;
    std::string problem;
    if (isPly(in)) {
        problem = checkPly(in, size);
        sized = problem.empty();
    } else if (endsWithNoCase(name, ".stl")) {
        problem = checkStl(in, size, sized);
    }
    if (problem.empty() && !sized && size > kMaxMeshFileBytes) {
        problem = formatString("%s is more than the %s a mesh file of this format may be",
                               platform::formatByteCount(size).c_str(),
                               platform::formatByteCount(kMaxMeshFileBytes).c_str());
    }
    return problem;
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
