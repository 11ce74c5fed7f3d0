// libFuzzer target for the LDI loader: every input is written to a file and opened with LoadLdi,
// once as an LDI file and, when it is short enough to be one, once as a ".ldiquad" list. The
// loaded object (if any) is simply dropped; the sanitizers report any bad access or leak.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "ldi/ldi_factory.h"
#include "platform/debug_output.h"

namespace {

std::string scratchPath(const char* extension) {
    return "/tmp/strata_ldi_fuzz_" + std::to_string(::getpid()) + extension;
}

void writeInput(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return;
    }
    if (size != 0) {
        std::fwrite(data, 1, size, file);
    }
    std::fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = [] {
        strata::platform::setDebugSink([](std::string_view) {});
        return true;
    }();
    (void)quiet;
    static const std::string ldiPath = scratchPath(".ldi");
    static const std::string quadPath = scratchPath(".ldiquad");
    writeInput(ldiPath, data, size);
    auto ldi = strata::ldi::LoadLdi(ldiPath);
    if (ldi) {
        // Walk the index as a drawing loop would.
        volatile std::int64_t layers = 0;
        for (std::int32_t r = 0; r < ldi->height(); ++r) {
            for (std::int32_t c = 0; c < ldi->width(); ++c) {
                float lo = 0.0f;
                float hi = 0.0f;
                layers = layers + ldi->LayerCount(r, c) + ldi->DepthRange(r, c, lo, hi);
            }
        }
    }
    if (size < 4096) {
        writeInput(quadPath, data, size);
        auto quad = strata::ldi::LoadLdi(quadPath);
    }
    return 0;
}
