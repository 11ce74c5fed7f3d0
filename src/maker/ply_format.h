// The PLY file format as the maker reads it: the header (format line, elements with their
// counts and properties, at most 64 KiB, 64 elements of 64 properties), and the values of the
// body one by one in ASCII or either binary byte order. Shared by the readers of face-coloured
// meshes and of point clouds.
#pragma once

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace strata::maker::ply {

enum class Type { int8, uint8, int16, uint16, int32, uint32, float32, float64 };
enum class Format { ascii, littleEndian, bigEndian };

// Bytes of one value of a type in a binary body.
std::int64_t sizeOf(Type type);
// The type of a PLY type name ("uchar", "float32", ...); false for an unknown one.
bool typeOf(std::string_view name, Type& type);
// What a colour value of a type is divided by to give 0..1.
float colourScale(Type type);

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

struct Header {
    Format format = Format::ascii;
    std::vector<Element> elements;
    std::size_t bodyStart = 0;
};

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

// True for a colour property name ("red", "r", "diffuse_red", ...); channel 0..2.
bool isColourName(std::string_view name, int& channel);

// Parses the header held at the start of `bytes`. False with `error` for a malformed one.
bool parseHeader(const std::vector<std::uint8_t>& bytes, Header& header, std::string& error);

// The fewest bytes one item of an element takes in the body.
std::int64_t smallestItem(const Element& element, Format format);

enum class HeaderRead {
    notPly,     // the file does not open or does not start with the "ply" line
    malformed,  // error says why
    read,
};

// Reads and parses the header of the file at path (only its first 64 KiB are read).
HeaderRead readHeader(const std::string& path, Header& header, std::string& error);
// The same on file contents in memory.
HeaderRead headerOf(const std::vector<std::uint8_t>& bytes, Header& header, std::string& error);

// False (error set) when the element counts of the header cannot all fit in the body that
// `bytes`, the whole file, holds; so nothing is allocated for counts a file cannot back.
bool checkElementCounts(const std::vector<std::uint8_t>& bytes, const Header& header,
                        std::string& error);

}  // namespace strata::maker::ply
