// libFuzzer target for the depth-map readers: the bytes as a PFM file, as a 16-bit PNG and by
// their contents (a name that says neither).
#include <cstdint>
#include <span>
#include <string>

#include "imageutil/depth_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    for (const char* name : {"fuzz.pfm", "fuzz.png", "fuzz.depth"}) {
        strata::imageutil::DepthImage image;
        std::string error;
        strata::imageutil::decodeDepthBytes(name, bytes, 1000.0, image, error);
    }
    return 0;
}
