// Shared by the file-reader fuzz targets: the input goes to a scratch file of this process
// (readers that take a path read it back), and debug output is silenced once.
#pragma once

#include <cstdint>
#include <string>

#include "fuzz_input.h"
#include "platform/debug_output.h"

namespace strata::fuzz {

inline std::string scratchFile(const char* extension) {
    static const bool quiet = [] {
        platform::setDebugSink([](std::string_view) {});
        return true;
    }();
    (void)quiet;
    return scratchFolder() + "/input" + extension;
}

inline void writeInput(const std::string& path, const std::uint8_t* data, std::size_t size) {
    writeFuzzInput(path, data, size);
}

}  // namespace strata::fuzz
