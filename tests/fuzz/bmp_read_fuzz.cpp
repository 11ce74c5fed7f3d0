// libFuzzer target for the BMP readers: the loader that allocates and the reader into a fixed
// caller buffer.
#include <array>
#include <cstdint>
#include <memory>

#include "imageutil/bmp_file.h"
#include "reader_fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = strata::fuzz::scratchFile(".bmp");
    strata::fuzz::writeInput(path, data, size);
    std::unique_ptr<std::uint32_t[]> pixels;
    std::int32_t width = 0;
    std::int32_t height = 0;
    strata::imageutil::ImageUtilLoadBMP(path, pixels, width, height);
    static std::array<std::uint32_t, 64 * 64> buffer{};
    strata::imageutil::ImageUtilReadBMP(path, buffer, &width, &height);
    return 0;
}
