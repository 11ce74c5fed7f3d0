// Reading the text lists that name LDI files.
#include "ldi/ldi_list.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

#include "platform/file_io.h"
#include "platform/folder_fence.h"

namespace strata::ldi {

namespace {

// Anything that exists counts as found, so that a FIFO or folder is refused by name.
bool exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

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

std::string resolveListMember(const std::string& listPath, std::string name, std::string* refusal) {
    std::replace(name.begin(), name.end(), '\\', '/');
    const platform::FolderFence& fence = platform::currentFence();
    const std::string folder = platform::directoryOf(listPath);
    const std::string beside = platform::joinPath(folder, name);
    const std::string moved = platform::joinPath(folder, fileNameOf(name));
    // A candidate outside the fence is not even looked at, so what the answer says cannot
    // depend on what lies outside.
    for (const std::string& candidate : {beside, name, moved}) {
        if (fence.admits(candidate) && exists(candidate)) {
            return candidate;
        }
    }
    if (refusal != nullptr && !fence.admits(beside)) {
        *refusal = platform::outsideRefusal(name, fence);
    }
    return name;
}

std::string listNameProblem(const std::string& name) {
    if (name.empty()) {
        return "an empty name";
    }
    if (name.size() > kMaxListNameLength) {
        return "a name longer than " + std::to_string(kMaxListNameLength) + " bytes";
    }
    for (const char c : name) {
        const auto b = static_cast<unsigned char>(c);
        if (std::isspace(b) != 0 || b < 0x20 || b == 0x7F || c == '\\') {
            return "a name with white space, control characters or '\\' (lists separate names "
                   "by white space)";
        }
    }
    return {};
}

}  // namespace strata::ldi
