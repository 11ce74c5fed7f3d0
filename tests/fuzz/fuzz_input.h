// Shared by the fuzz targets: every input is handed to the readers as a file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace strata::fuzz {

// Writes the fuzzer's input to path (an empty file for an empty input). False when the file
// cannot be made.
inline bool writeFuzzInput(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    if (size != 0) {
        std::fwrite(data, 1, size, file);
    }
    std::fclose(file);
    return true;
}

}  // namespace strata::fuzz
