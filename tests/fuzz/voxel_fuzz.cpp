// libFuzzer target for the voxel file reader: every input is written to a ".vox" file,
// converted, and drawn from three cameras with splats on; the sanitizers report any bad access.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz/fuzz_input.h"
#include "imageutil/rgb_image.h"
#include "ldi/voxel_model.h"
#include "platform/debug_output.h"
#include "render/output_view.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = [] {
        strata::platform::setDebugSink([](std::string_view) {});
        return strata::fuzz::scratchFolder() + "/input.vox";
    }();
    static strata::imageutil::RgbImage frame = strata::imageutil::RgbImage::createOwned(48, 48);
    if (!strata::fuzz::writeFuzzInput(path, data, size)) {
        return 0;
    }
    strata::ldi::VoxelModel model;
    model.reportErrors = false;
    if (model.Open(path) == 0) {
        return 0;
    }
    for (const float z : {0.5f, 0.0f, -1.0f}) {
        const strata::render::OutputView view = strata::render::makeOutputView(
            {0.1f, -0.2f, z}, {0.0f, 0.0f, -1.0f}, {0.0f, 1.0f, 0.0f}, 0.7853982f, 48, 48);
        model.DrawVoxels(view.warpMatrix, view.viewMatrix, view.camera, frame, true);
    }
    return 0;
}
