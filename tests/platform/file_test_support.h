// Shared by the file tests: a fresh scratch folder and a file's contents as text.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_io.h"

namespace strata::platform::testing {

// A fresh empty folder under /tmp (the caller removes it).
inline std::string tempDir() {
    char pattern[] = "/tmp/strata-file-io-XXXXXX";
    return ::mkdtemp(pattern);
}

// The whole file as text, or "<reason>" when it does not read.
inline std::string slurp(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!readWholeFile(path, bytes, error)) {
        return "<" + error + ">";
    }
    return {bytes.begin(), bytes.end()};
}

}  // namespace strata::platform::testing
