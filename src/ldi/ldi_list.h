// The small text lists that name LDI files (quad lists, pyramids, sets): whitespace-separated
// tokens with the line each starts on, number parsing that refuses trailing text, and the lookup
// of a member name relative to its list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace strata::ldi {

struct ListToken {
    std::string text;
    int line = 1;  // 1-based line the token starts on
};

// Largest list file read, and longest member name accepted.
inline constexpr std::uint64_t kMaxListBytes = 1 << 20;
inline constexpr std::size_t kMaxListNameLength = 4096;

// Reads the list at path as text: at most kMaxListBytes, no control bytes other than
// whitespace. Returns false with error set (without the path) when it does not open or is not
// text; opened is set to whether the file could be read at all.
bool readListTokens(const std::string& path, std::vector<ListToken>& tokens, std::string& error,
                    bool& opened);

// Splits text into whitespace-separated tokens (CR counts as whitespace).
std::vector<ListToken> listTokensOf(const std::vector<std::uint8_t>& bytes);

// The whole token as a number; false for empty tokens, trailing text, or values out of range.
// parseListFloat also refuses infinities and NaN.
bool parseListFloat(const std::string& token, float& value);
bool parseListInt(const std::string& token, std::int32_t& value);

// A member name as written in a list: '\' separators read as '/'; looked up beside the list
// first, then as written (relative to the current directory), then by its file name alone
// beside the list (a list moved together with its members). A name found nowhere is returned
// as written (with '/' separators). Only candidates the fence of the file being opened admits
// (platform::currentFence()) are looked at; when none of them exists and the name itself leads
// outside the fence, `refusal` (when given) receives the one-line refusal, the same whether an
// outside file of that name exists or not.
std::string resolveListMember(const std::string& listPath, std::string name,
                              std::string* refusal = nullptr);

// Refuses a member name the list readers would not read back as written: empty, longer than
// kMaxListNameLength, or holding white space, control bytes or '\'. "" when the name is fine.
std::string listNameProblem(const std::string& name);

}  // namespace strata::ldi
