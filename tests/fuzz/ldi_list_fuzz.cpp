// libFuzzer target for the pyramid and set list readers: every input is written as a ".ldipyr"
// and as a ".ldiset" list into a scratch folder that holds two small valid LDIs and a valid
// pyramid (the names the seeds use), opened, and its levels chosen and drawn as the viewer
// would. The sanitizers report any bad access or leak.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "fuzz/fuzz_input.h"
#include "imageutil/rgb_image.h"
#include "ldi/ldi_pyramid.h"
#include "ldi/ldi_samples.h"
#include "ldi/ldi_set.h"
#include "ldi/ldi_types.h"
#include "platform/debug_output.h"
#include "render/output_view.h"

namespace {

std::string listFolder() {
    const std::string& folder = strata::fuzz::scratchFolder();
    using strata::ldi::DptType;
    using strata::ldi::LdiType;
    using strata::ldi::toInt;
    for (int i = 0; i < 2; ++i) {
        auto ldi = strata::ldi::testing::makeSample(toInt(LdiType::RT), toInt(DptType::QP), 4 >> i,
                                                    4 >> i, static_cast<std::uint32_t>(i + 1));
        ldi->Save(folder + "/level" + std::to_string(i) + ".ldi");
    }
    strata::ldi::testing::writeText(folder + "/member.ldipyr", "2 level0.ldi 1 level1.ldi 2\n");
    return folder;
}

void drawFrom(strata::ldi::LdiBase* ldi, const strata::render::OutputView& view,
              strata::imageutil::RgbImage& frame) {
    if (ldi != nullptr) {
        ldi->DrawAll(view.warpMatrix, view.viewMatrix, view.camera, frame);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string folder = [] {
        strata::platform::setDebugSink([](std::string_view) {});
        return listFolder();
    }();
    static strata::imageutil::RgbImage frame = strata::imageutil::RgbImage::createOwned(32, 32);
    static const strata::render::OutputView view = strata::render::makeOutputView(
        {0.0f, 0.0f, 5.0f}, {0.0f, 0.0f, -1.0f}, {0.0f, 1.0f, 0.0f}, 0.7853982f, 32, 32);
    if (size > 8192) {
        return 0;
    }
    const std::string pyramidPath = folder + "/input.ldipyr";
    strata::fuzz::writeFuzzInput(pyramidPath, data, size);
    strata::ldi::LdiPyramid pyramid;
    pyramid.reportErrors = false;
    if (pyramid.OpenPyramid(pyramidPath) != 0) {
        for (float distance : {-1.0f, 0.5f, 1.5f, 1e9f}) {
            pyramid.SelectLevel(distance);
            drawFrom(pyramid.CurrentLdi(), view, frame);
        }
        pyramid.SetLevel(-1);
        pyramid.SetLevel(1 << 30);
        pyramid.DrawAll(view.warpMatrix, view.viewMatrix, view.camera, frame);
    }
    const std::string setPath = folder + "/input.ldiset";
    strata::fuzz::writeFuzzInput(setPath, data, size);
    strata::ldi::LdiSet set;
    set.reportErrors = false;
    if (set.OpenSet(setPath) != 0) {
        for (const strata::geometry::Vector3& pos :
             {strata::geometry::Vector3{0, 0, 5}, strata::geometry::Vector3{5, 0, 0},
              strata::geometry::Vector3{0, 0, -5}}) {
            drawFrom(strata::ldi::ChooseMemberAndLevel(set, pos, strata::ldi::LookAtDepth(set)),
                     view, frame);
        }
    }
    return 0;
}
