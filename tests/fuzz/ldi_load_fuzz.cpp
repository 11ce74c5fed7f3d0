// libFuzzer target for the LDI loader: every input is written to a file and opened with LoadLdi,
// once as an LDI file and, when it is short enough to be one, once as a ".ldiquad" list. The
// loaded object (if any) is simply dropped; the sanitizers report any bad access or leak.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz/fuzz_input.h"
#include "ldi/ldi_factory.h"
#include "platform/debug_output.h"

namespace {

std::string scratchPath(const char* extension) {
    return "/tmp/strata_ldi_fuzz_" + std::to_string(::getpid()) + extension;
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
    strata::fuzz::writeFuzzInput(ldiPath, data, size);
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
        strata::fuzz::writeFuzzInput(quadPath, data, size);
        auto quad = strata::ldi::LoadLdi(quadPath);
    }
    return 0;
}
