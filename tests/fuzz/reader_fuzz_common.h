// Shared by the file-reader fuzz targets: the input goes to a scratch file of this process
// (readers that take a path read it back), and debug output is silenced once.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/debug_output.h"

namespace strata::fuzz {

inline std::string scratchFile(const char* extension) {
    const bool quiet = [] {
        platform::setDebugSink([](std::string_view) {});
        return true;
    }();
    (void)quiet;
    return "/tmp/strata_reader_fuzz_" + std::to_string(::getpid()) + extension;
}

inline void writeInput(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return;
    }
    if (size != 0) {
        std::fwrite(data, 1, size, file);
    }
    std::fclose(file);
}

}  // namespace strata::fuzz
