// Reading the text lists that name LDI files.
#include "ldi/ldi_list.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

#include "platform/file_io.h"

namespace strata::ldi {

namespace {

std::string fileNameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::vector<ListToken> listTokensOf(const std::vector<std::uint8_t>& bytes) {
    std::vector<ListToken> tokens;
    ListToken current;
    int line = 1;
    for (std::uint8_t b : bytes) {
        if (std::isspace(b) != 0) {
            if (!current.text.empty()) {
                tokens.push_back(current);
                current.text.clear();
            }
            if (b == '\n') {
                ++line;
            }
        } else {
            if (current.text.empty()) {
                current.line = line;
            }
            current.text.push_back(static_cast<char>(b));
        }
    }
    if (!current.text.empty()) {
        tokens.push_back(current);
    }
    return tokens;
}

bool readListTokens(const std::string& path, std::vector<ListToken>& tokens, std::string& error,
                    bool& opened) {
    std::vector<std::uint8_t> bytes;
    opened = false;
    if (!platform::readWholeFile(path, bytes, error, kMaxListBytes)) {
        return false;
    }
    opened = true;
    // Lists are plain text; anything with control bytes is some other file.
    for (std::uint8_t b : bytes) {
        if (b < 0x20 && std::isspace(b) == 0) {
            error = "is not a text list";
            return false;
        }
    }
    tokens = listTokensOf(bytes);
    return true;
}

bool parseListFloat(const std::string& token, float& value) {
    const char* end = token.data() + token.size();
    float v = 0.0f;
    const auto result = std::from_chars(token.data(), end, v);
    if (result.ec != std::errc() || result.ptr != end || !std::isfinite(v)) {
        return false;
    }
    value = v;
    return true;
}

bool parseListInt(const std::string& token, std::int32_t& value) {
    const char* begin = token.data();
    const char* end = token.data() + token.size();
    if (begin != end && *begin == '+') {
        ++begin;
    }
    std::int32_t v = 0;
    const auto result = std::from_chars(begin, end, v);
    if (begin == end || result.ec != std::errc() || result.ptr != end) {
        return false;
    }
    value = v;
    return true;
}

std::string resolveListMember(const std::string& listPath, std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    const std::string folder = platform::directoryOf(listPath);
    const std::string beside = platform::joinPath(folder, name);
    if (platform::fileSize(beside)) {
        return beside;
    }
    if (platform::fileSize(name)) {
        return name;
    }
    const std::string moved = platform::joinPath(folder, fileNameOf(name));
    if (platform::fileSize(moved)) {
        return moved;
    }
    return name;
}

}  // namespace strata::ldi
