#include "tools/viewer_file.h"

#include <algorithm>
#include <cctype>

#include "ldi/ldi_factory.h"
#include "platform/debug_output.h"
#include "platform/file_io.h"

namespace strata::tools {

namespace {

void takeReference(ViewerFile& file, const ldi::LdiBase& ldi) {
    file.reference = ldi.header.view;
    file.boundsMin = ldi.header.boundsMin;
    file.boundsMax = ldi.header.boundsMax;
}

// Mutes the debug output for its lifetime when asked.
class QuietDebug {
  public:
    explicit QuietDebug(bool quiet) : quiet_(quiet) {
        if (quiet_) {
            previous_ = platform::setDebugSink([](std::string_view) {});
        }
    }
    ~QuietDebug() {
        if (quiet_) {
            platform::setDebugSink(previous_);
        }
    }
    QuietDebug(const QuietDebug&) = delete;
    QuietDebug& operator=(const QuietDebug&) = delete;

  private:
    bool quiet_;
    platform::DebugSink previous_;
};

}  // namespace

ViewerFileKind viewerFileKindOf(const std::string& path) {
    const std::string extension = platform::fileExtension(path);
    if (extension == "vox") {
        return ViewerFileKind::voxel;
    }
    if (extension == "ldiset") {
        return ViewerFileKind::set;
    }
    if (extension == "ldipyr") {
        return ViewerFileKind::pyramid;
    }
    return ViewerFileKind::ldi;
}

bool openViewerFile(const std::string& path, ViewerFile& file, std::string& error, bool quiet) {
    file = ViewerFile{};
    file.kind = viewerFileKindOf(path);
    const QuietDebug mute(quiet);
    switch (file.kind) {
        case ViewerFileKind::voxel: {
            file.voxel = std::make_unique<ldi::VoxelModel>();
            file.voxel->reportErrors = !quiet;
            if (file.voxel->Open(path) == 0) {
                error = file.voxel->loadError();
                return false;
            }
            file.reference = file.voxel->current().view;
            file.boundsMin = {-1.0f, -1.0f, -1.0f};
            file.boundsMax = {1.0f, 1.0f, 1.0f};
            return true;
        }
        case ViewerFileKind::pyramid: {
            file.pyramid = std::make_unique<ldi::LdiPyramid>();
            file.pyramid->reportErrors = !quiet;
            if (file.pyramid->OpenPyramid(path) == 0) {
                error = file.pyramid->openError();
                return false;
            }
            const ldi::LdiBase* level = file.pyramid->CurrentLdi();
            level = level != nullptr ? level : file.pyramid->FirstLoadedLdi();
            if (level == nullptr) {
                error = path + ": no level of the pyramid loaded";
                return false;
            }
            takeReference(file, *level);
            file.lookAtDepth = ldi::LookAtDepth(*file.pyramid);
            return true;
        }
        case ViewerFileKind::set: {
            file.set = std::make_unique<ldi::LdiSet>();
            file.set->reportErrors = !quiet;
            if (file.set->OpenSet(path) == 0) {
                error = file.set->openError();
                return false;
            }
            for (const auto& member : file.set->members) {
                const ldi::LdiBase* level = member ? member->CurrentLdi() : nullptr;
                level = level != nullptr ? level : (member ? member->FirstLoadedLdi() : nullptr);
                if (level != nullptr) {
                    takeReference(file, *level);
                    file.lookAtDepth = ldi::LookAtDepth(*file.set);
                    return true;
                }
            }
            error = path + ": no level of any member pyramid loaded";
            return false;
        }
        case ViewerFileKind::ldi:
            break;
    }
    file.ldi = ldi::LoadLdi(path, &error);
    if (!file.ldi) {
        return false;
    }
    takeReference(file, *file.ldi);
    return true;
}

ViewerDraw drawViewerFile(ViewerFile& file, const ldi::FrameSettings& settings,
                          const render::OutputView& view, imageutil::RgbImage& frame) {
    ViewerDraw result;
    ldi::LdiBase* drawn = nullptr;
    switch (file.kind) {
        case ViewerFileKind::ldi:
            drawn = file.ldi.get();
            break;
        case ViewerFileKind::pyramid:
            drawn = ldi::ChooseLevel(*file.pyramid, view.camera.pos, file.lookAtDepth);
            result.level = file.pyramid->currentLevel;
            break;
        case ViewerFileKind::set: {
            drawn = ldi::ChooseMemberAndLevel(*file.set, view.camera.pos, file.lookAtDepth);
            result.member = file.set->currentMember;
            const ldi::LdiPyramid* pyramid = file.set->CurrentPyramid();
            result.level = pyramid != nullptr ? pyramid->currentLevel : -1;
            break;
        }
        case ViewerFileKind::voxel: {
            const std::int64_t before = file.voxel->samplesVisited;
            ldi::DrawFrameVoxels(file.voxel.get(), settings, view.warpMatrix, view.camera, frame);
            result.stats.visited = static_cast<std::int32_t>(file.voxel->samplesVisited - before);
            return result;
        }
    }
    if (drawn == nullptr) {
        // No loaded level or member: the background alone.
        ldi::DrawFrameObject(nullptr, settings, ldi::HandOver::all, view.warpMatrix, view.camera,
                             frame);
        return result;
    }
    result.stats = ldi::DrawFrame(*drawn, settings, view, frame);
    return result;
}

}  // namespace strata::tools
