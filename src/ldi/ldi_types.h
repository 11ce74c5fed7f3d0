// The two type codes stored in every LDI header: how the LDI was produced (LdiType) and how its
// depth pixels are encoded (DptType), with the one name table per enumeration that the readers,
// the command line and every printed report share.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace strata::ldi {

enum class LdiType : std::int32_t {
    FAT = 0,
    RT = 1,
    RTFF = 2,
    RTPyramid = 3,
    RTSet = 4,
    RTQuad = 5,
    MOVIE = 6,
    Error = 7,  // "lditError"
};

enum class DptType : std::int32_t {
    FP = 0,
    HP = 1,
    QP = 2,
    CP = 3,
    MRFP = 4,
    MRHP = 5,
    MRQP = 6,
    MRHPHeader = 7,
    MRQPHeader = 8,
    Voxel = 9,
    Error = 10,  // "dptError"
};

inline constexpr std::array<std::string_view, 8> kLdiTypeNames = {
    "FAT", "RT", "RTFF", "RTPyramid", "RTSet", "RTQuad", "MOVIE", "lditError"};

inline constexpr std::array<std::string_view, 11> kDptTypeNames = {
    "FP",   "HP",         "QP",         "CP",    "MRFP",    "MRHP",
    "MRQP", "MRHPHeader", "MRQPHeader", "Voxel", "dptError"};

// The name of a type code; any value outside the table (negative, or past the error entry)
// gives "lditError" / "dptError".
std::string_view ldiTypeName(std::int32_t value);
std::string_view dptTypeName(std::int32_t value);

// Exact, case-sensitive lookup in table order; a text that matches no name gives the error
// value (7 for LdiType, 10 for DptType).
std::int32_t ldiTypeFromName(std::string_view name);
std::int32_t dptTypeFromName(std::string_view name);

constexpr std::int32_t toInt(LdiType t) {
    return static_cast<std::int32_t>(t);
}
constexpr std::int32_t toInt(DptType t) {
    return static_cast<std::int32_t>(t);
}

}  // namespace strata::ldi
