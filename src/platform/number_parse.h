// Checked number parsing for everything a user or a file types: the whole text must be the
// number (no spaces, no trailing characters), whole numbers are decimal only (no octal or hex
// surprises), and a value outside the wanted range, overflow included, is refused rather than
// wrapped or clamped.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace strata::platform {

// A decimal whole number with an optional sign ('+' or '-') in min..max. False (value
// untouched) for empty text, any other character, or a value outside the range.
bool parseWholeNumber(std::string_view text, std::int64_t min, std::int64_t max,
                      std::int64_t& value);
bool parseWholeNumber(std::string_view text, std::int32_t min, std::int32_t max,
                      std::int32_t& value);

// A finite decimal number (fixed or exponent form, optional sign). False (value untouched) for
// empty text, trailing characters, infinities, NaN, or a magnitude beyond the float range.
// Values too small for a float read as the nearest float (zero or a denormal).
bool parseFiniteFloat(std::string_view text, float& value);
bool parseFiniteDouble(std::string_view text, double& value);

// "WxH": two whole numbers in minSide..maxSide joined by a lower-case 'x', nothing else.
bool parseSizeText(std::string_view text, std::int32_t minSide, std::int32_t maxSide,
                   std::int32_t& width, std::int32_t& height);

// A byte count: a whole number with an optional unit K, M, G or T (powers of 1024, either
// case, an optional trailing "B" or "iB"). False for anything else or a count beyond 2^62.
bool parseByteCount(std::string_view text, std::uint64_t& bytes);

// A byte count for messages: "512 bytes", "3.2 MB", "1.07 GB" (powers of 1024).
std::string formatByteCount(std::uint64_t bytes);

}  // namespace strata::platform
