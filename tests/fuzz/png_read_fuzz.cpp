// libFuzzer target for the PNG reader: the bytes are decoded as they are and against a fixed
// frame size (the --compare path).
#include <cstdint>
#include <span>

#include "imageutil/png_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    strata::imageutil::RgbImage image;
    std::string error;
    strata::imageutil::decodePngBytes("fuzz.png", bytes, image, &error);
    strata::imageutil::RgbImage framed;
    strata::imageutil::decodePngBytes("fuzz.png", bytes, framed, &error, 4, 3);
    return 0;
}
