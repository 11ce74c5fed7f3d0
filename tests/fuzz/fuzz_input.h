// Shared by the fuzz targets: every input is handed to the readers as a file. The files live in
// memory (/dev/shm where there is one): rewriting a disk file for every input made the file
// system flush each rewritten file on close, which held the file-reading targets to a few
// hundred inputs a second.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace strata::fuzz {

// A folder of this process for scratch files, made on first use.
inline const std::string& scratchFolder() {
    static const std::string folder = [] {
        struct stat info {};
        const std::string base =
            ::stat("/dev/shm", &info) == 0 && S_ISDIR(info.st_mode) ? "/dev/shm" : "/tmp";
        const std::string path = base + "/strata-fuzz-" + std::to_string(::getpid());
        std::error_code code;
        std::filesystem::create_directories(path, code);
        return path;
    }();
    return folder;
}

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
