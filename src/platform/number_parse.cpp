#include "platform/number_parse.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace strata::platform {

bool parseWholeNumber(std::string_view text, std::int64_t min, std::int64_t max,
                      std::int64_t& value) {
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    if (begin != end && *begin == '+') {
        ++begin;
    }
    // from_chars takes a '-' itself; a second sign ("+-1", "--1") is refused.
    if (begin == end || *begin == '+' || (*begin == '-' && begin != text.data())) {
        return false;
    }
    std::int64_t v = 0;
    const auto [ptr, ec] = std::from_chars(begin, end, v, 10);
    if (ec != std::errc() || ptr != end || v < min || v > max) {
        return false;
    }
    value = v;
    return true;
}

bool parseWholeNumber(std::string_view text, std::int32_t min, std::int32_t max,
                      std::int32_t& value) {
    std::int64_t v = 0;
    if (!parseWholeNumber(text, std::int64_t{min}, std::int64_t{max}, v)) {
        return false;
    }
    value = static_cast<std::int32_t>(v);
    return true;
}

namespace {

// The characters of a decimal number in fixed or exponent form (strtod would also take hex,
// "inf", "nan" and leading spaces).
bool decimalForm(std::string_view text) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        ++i;
    }
    std::size_t digits = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) != 0) {
        ++i;
        ++digits;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) != 0) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0) {
        return false;
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
            ++i;
        }
        std::size_t exponentDigits = 0;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) != 0) {
            ++i;
            ++exponentDigits;
        }
        if (exponentDigits == 0) {
            return false;
        }
    }
    return i == text.size();
}

}  // namespace

bool parseFiniteDouble(std::string_view text, double& value) {
    if (text.empty() || text.size() > 256 || !decimalForm(text)) {
        return false;
    }
    const std::string copy(text);
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(copy.c_str(), &end);
    // ERANGE also flags underflow, which reads as the nearest value (0 or a denormal).
    if (end != copy.c_str() + copy.size() || !std::isfinite(v)) {
        return false;
    }
    value = v;
    return true;
}

bool parseFiniteFloat(std::string_view text, float& value) {
    double v = 0.0;
    if (!parseFiniteDouble(text, v) || std::fabs(v) > std::numeric_limits<float>::max()) {
        return false;
    }
    value = static_cast<float>(v);
    return true;
}

bool parseSizeText(std::string_view text, std::int32_t minSide, std::int32_t maxSide,
                   std::int32_t& width, std::int32_t& height) {
    const std::size_t x = text.find('x');
    if (x == std::string_view::npos) {
        return false;
    }
    const std::string_view w = text.substr(0, x);
    const std::string_view h = text.substr(x + 1);
    // Plain digits only: no signs inside a size.
    for (const std::string_view part : {w, h}) {
        if (part.empty() || !std::isdigit(static_cast<unsigned char>(part.front()))) {
            return false;
        }
    }
    std::int32_t pw = 0;
    std::int32_t ph = 0;
    if (!parseWholeNumber(w, minSide, maxSide, pw) || !parseWholeNumber(h, minSide, maxSide, ph)) {
        return false;
    }
    width = pw;
    height = ph;
    return true;
}

bool parseByteCount(std::string_view text, std::uint64_t& bytes) {
    std::size_t digits = 0;
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits])) != 0) {
        ++digits;
    }
    if (digits == 0) {
        return false;
    }
    std::int64_t count = 0;
    constexpr std::int64_t kMax = std::int64_t{1} << 62;
    if (!parseWholeNumber(text.substr(0, digits), std::int64_t{0}, kMax, count)) {
        return false;
    }
    std::string unit(text.substr(digits));
    for (char& c : unit) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    int shift = 0;
    if (!unit.empty() && unit != "B") {
        const std::string_view letters = "KMGT";
        const std::size_t at = letters.find(unit.front());
        const std::string_view rest = std::string_view(unit).substr(1);
        if (at == std::string_view::npos || !(rest.empty() || rest == "B" || rest == "IB")) {
            return false;
        }
        shift = 10 * static_cast<int>(at + 1);
    }
    if (count > (kMax >> shift)) {
        return false;
    }
    bytes = static_cast<std::uint64_t>(count) << shift;
    return true;
}

std::string formatByteCount(std::uint64_t bytes) {
    static constexpr const char* kUnits[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    if (bytes < 1024) {
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    }
    double value = static_cast<double>(bytes) / 1024.0;
    int unit = 0;
    while (value >= 1024.0 && unit < 5) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text,
                  value < 10.0    ? "%.2f %s"
                  : value < 100.0 ? "%.1f %s"
                                  : "%.0f %s",
                  value, kUnits[unit]);
    return text;
}

}  // namespace strata::platform
