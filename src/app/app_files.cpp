// Opening files by extension, the window title, the open-time hand-over of settings, the
// camera files of Save View... and Load View..., and the numbered frames of F12.
#include "app/app_view.h"

#include <algorithm>
#include <charconv>
#include <filesystem>

#include "app/app_commands.h"
#include "app/app_view_support.h"
#include "geometry/frame_tangents.h"
#include "imageutil/png_file.h"
#include "ldi/ldi_factory.h"
#include "ldi/ldi_types.h"
#include "platform/debug_output.h"
#include "platform/file_io.h"
#include "render/camera_file.h"

namespace strata::app {

// The first level that loaded in the set's first member pyramid that has one.
ldi::LdiBase* detail::firstSetLevel(const ldi::LdiSet& set) {
    for (const auto& member : set.members) {
        if (!member) {
            continue;
        }
        ldi::LdiBase* level = member->CurrentLdi();
        if (level == nullptr) {
            level = member->FirstLoadedLdi();
        }
        if (level != nullptr) {
            return level;
        }
    }
    return nullptr;
}

// ---- Files ----------------------------------------------------------------------------------

bool AppView::OpenFile(const std::string& path) {
    platform::debugPrintf("Loading: %s\n", path.c_str());
    return OpenLoaded(path, LoadObjects(path));
}

bool AppView::OpenLoaded(const std::string& path, LoadedObjects&& loaded) {
    // The names of what is shown, kept when the new file does not open.
    const std::string shownPath = fullPath;
    const std::string shownTitle = fileTitle;
    const std::string shownExt = fileExt;
    fullPath = path;
    const std::filesystem::path p(path);
    fileTitle = p.filename().string();
    const std::size_t dot = fileTitle.rfind('.');
    fileExt = dot == std::string::npos ? std::string() : fileTitle.substr(dot + 1);
    const bool opened = InstallObjects(std::move(loaded));
    if (!opened) {
        fullPath = shownPath;
        fileTitle = shownTitle;
        fileExt = shownExt;
    }
    HandSettingsToLdi();
    needsRedraw = true;
    return opened;
}

void AppView::ForgetBorrowedLdi() {
    drawLdi = nullptr;
    ldi = singleLdi.get();
}

LoadedObjects LoadObjects(const std::string& path) {
    // Touches no view: the shell may run it on a thread of its own.
    LoadedObjects out;
    const std::string name = std::filesystem::path(path).filename().string();
    if (platform::hasExtension(name, "vox")) {
        auto model = std::make_unique<ldi::VoxelModel>();
        if (model->Open(path) != 0 && model->loaded()) {
            out.mode = ModeVoxel;
            out.voxel = std::move(model);
        } else {
            out.error = model->loadError();
        }
    } else if (platform::hasExtension(name, "ldiset")) {
        auto set = std::make_unique<ldi::LdiSet>();
        if (set->OpenSet(path) == 0) {
            out.error = set->openError();
        } else if (firstSetLevel(*set) == nullptr) {
            out.error = path + ": no level of any member pyramid loaded";
        } else {
            out.mode = ModeLdiSet;
            out.set = std::move(set);
        }
    } else if (platform::hasExtension(name, "ldipyr")) {
        auto levels = std::make_unique<ldi::LdiPyramid>();
        if (levels->OpenPyramid(path) == 0) {
            out.error = levels->openError();
        } else if (levels->FirstLoadedLdi() == nullptr) {
            out.error = path + ": no level of the pyramid loaded";
        } else {
            out.mode = ModeLdiPyramid;
            out.pyramid = std::move(levels);
        }
    } else {
        std::unique_ptr<ldi::LdiBase> object = ldi::LoadLdi(path, &out.error);
        if (object) {
            switch (static_cast<ldi::DptType>(object->KindDptType())) {
                case ldi::DptType::CP:
                    out.mode = ModeLdiCp;
                    break;
                case ldi::DptType::QP:
                    out.mode = ModeLdiQp;
                    break;
                case ldi::DptType::MRQP:
                    out.mode = ModeLdiMrqp;
                    break;
                default:
                    break;
            }
            out.single = std::move(object);
        }
    }
    if (out.mode == ModeNone && out.error.empty()) {
        out.error = path + ": cannot be loaded";
    }
    return out;
}

bool AppView::OpenDispatch() {
    return InstallObjects(LoadObjects(fullPath));
}

bool AppView::InstallObjects(LoadedObjects&& loaded) {
    // Every kind keeps the previous object of its kind (and the display mode) unless the new one
    // loaded, and says why in the status line when it did not; the title and the camera then
    // stay those of what is shown.
    if (loaded.mode == ModeNone) {
        statusNote = loaded.error;
        return false;
    }
    if (loaded.mode == ModeLdiSet || loaded.mode == ModeLdiPyramid) {
        ForgetBorrowedLdi();
    }
    displayMode = loaded.mode;
    if (loaded.voxel) {
        voxelModel = std::move(loaded.voxel);
    } else if (loaded.set) {
        ldiSet = std::move(loaded.set);
    } else if (loaded.pyramid) {
        pyramid = std::move(loaded.pyramid);
    } else {
        // In modes 10 and 11 the reset below makes a level current again.
        drawLdi = nullptr;
        singleLdi = std::move(loaded.single);
        ldi = singleLdi.get();
    }
    ldiLoaded = 1;
    statusNote.clear();
    UpdateTitle();
    OnCommand(kIdReset);
    return true;
}

void AppView::UpdateTitle() {
    if (onTitle) {
        onTitle("Strata Viewer -- " + fileTitle);
    }
}

void AppView::HandSettingsToLdi() {
    if (ldi == nullptr) {
        return;
    }
    ldi::LdiRenderOptions& o = ldi->options;
    o.useDepthCorrection = useDepthCorrection ? 1 : 0;
    o.backfaceCulling = backfaceCulling ? 1 : 0;
    o.scanlineCulling = scanlineCulling ? 1 : 0;
    o.useFalseColor = useFalseColor ? 1 : 0;
    o.falseColorMode = falseColorMode;
    o.sizeAccurate = sizeAccurate;
    o.benchFlag = benchFlag && DrawsHalvesAndBenchRows(*ldi) ? 1 : 0;
}

bool AppView::SaveView(const std::string& path, std::string& error) const {
    render::CameraRecord record;
    record.position = viewCamera.pos;
    record.direction = viewCamera.dir;
    record.up = viewCamera.up;
    record.fovDegrees = viewCamera.fov * (180.0f / 3.14159265f);
    record.near = viewCamera.near;
    record.far = viewCamera.far;
    record.width = frameImage.empty() ? clientWidth : frameImage.width;
    record.height = frameImage.empty() ? clientHeight : frameImage.height;
    if (record.width < 1 || record.height < 1) {
        record.width = kDefaultFrameSide;
        record.height = kDefaultFrameSide;
    }
    return render::saveCameraFile(path, record, error);
}

bool AppView::LoadView(const std::string& path, std::string& error) {
    render::CameraRecord record;
    if (!render::loadCameraFile(path, record, error)) {
        return false;
    }
    const float fov =
        std::clamp(record.fovDegrees * (3.14159265f / 180.0f), kZoomFloor, kZoomCeiling);
    // fov spans the frame's smaller side; pixels stay square in a wide or tall frame.
    const geometry::FrameTangents t = geometry::frameTangents(fov, clientWidth, clientHeight);
    warpProjection = geometry::frustum(-t.x, t.x, -t.y, t.y, 1.0f, -1.0f);
    clipProjection =
        geometry::frustum(0.1f * -t.x, 0.1f * t.x, 0.1f * -t.y, 0.1f * t.y, 0.1f, 10000.0f);
    viewCamera.fov = fov;
    viewCamera.near = record.near;
    viewCamera.far = record.far;
    viewCamera.projection = warpProjection;
    PlaceCamera(record.position, record.direction, record.up);
    needsRedraw = true;
    return true;
}

void AppView::PlaceCamera(const Vector3& position, const Vector3& direction, const Vector3& up) {
    const Vector3 dir = geometry::normalized(direction);
    const Vector3 square = geometry::normalized(geometry::cross(geometry::cross(dir, up), dir));
    // The camera's frame becomes the navigation rotation, with no trackball turn over it.
    keyMotion = Vector3{};
    trackball = Trackball{};
    trackball.setSize(clientWidth, clientHeight, 0.8f);
    trackball.setGain(0.5f);
    orientation = trackball.orientation;
    navRotation = geometry::lookAtRotation(dir, square);
    navPosition = position;
    RebuildFromViewMatrix(geometry::product(
        navRotation, geometry::translation(-position.x, -position.y, -position.z)));
    needsRedraw = true;
}

void AppView::ChooseViewFile(int id, bool save) {
    if (!onChooseFile) {
        return;
    }
    const std::string path = onChooseFile(id);
    if (path.empty()) {
        return;
    }
    std::string error;
    if (!(save ? SaveView(path, error) : LoadView(path, error))) {
        SetStatus(error);
    }
}

}  // namespace strata::app

namespace strata::app {

namespace {

// The next frame file after `last`: its name without the trailing number, then the number one
// past it (at least four digits), in the same folder; the first such name that is free.
std::filesystem::path nextNumberedName(const std::filesystem::path& last) {
    const std::string stem = last.stem().string();
    const std::size_t digitsAt = stem.find_last_not_of("0123456789") + 1;
    // A run of more than nine digits is part of the name, not a count.
    const bool counted = stem.size() > digitsAt && stem.size() - digitsAt <= 9;
    std::string base = counted ? stem.substr(0, digitsAt) : stem + "-";
    const std::string digits = counted ? stem.substr(digitsAt) : std::string();
    std::uint64_t number = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), number);
    const int width = static_cast<int>(std::clamp<std::size_t>(digits.size(), 4, 9));
    std::filesystem::path candidate;
    for (std::uint64_t n = number + 1;; ++n) {
        candidate =
            last.parent_path() /
            (base + platform::formatString("%0*llu", width, static_cast<unsigned long long>(n)) +
             ".png");
        std::error_code ignored;
        if (!std::filesystem::exists(candidate, ignored)) {
            return candidate;
        }
        if (n > number + 100000) {
            return {};  // every number taken: nothing is overwritten
        }
    }
}

}  // namespace

bool AppView::SaveNumberedFrame() {
    const std::filesystem::path last =
        !lastSavedFrame.empty()
            ? std::filesystem::path(lastSavedFrame)
            : std::filesystem::path(dumpFolder.empty() ? "." : dumpFolder) / "frame-0000.png";
    const std::string path = nextNumberedName(last).string();
    std::string error;
    if (frameImage.empty() || path.empty() ||
        !imageutil::writeImageFile(path, frameImage, &error)) {
        SetStatus("F12: the frame was not saved: " + (error.empty() ? path : error));
        return false;
    }
    lastSavedFrame = path;
    SetStatus("F12: saved " + path);
    return true;
}

}  // namespace strata::app
