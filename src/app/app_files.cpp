// Opening files by extension, the window title, the open-time hand-over of settings, and the
// camera files of Save View... and Load View....
#include "app/app_view.h"

#include <algorithm>
#include <filesystem>

#include "app/app_commands.h"
#include "app/app_view_support.h"
#include "geometry/frame_tangents.h"
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
    // The names of what is shown, kept when the new file does not open.
    const std::string shownPath = fullPath;
    const std::string shownTitle = fileTitle;
    const std::string shownExt = fileExt;
    fullPath = path;
    platform::debugPrintf("Loading: %s\n", fullPath.c_str());
    const std::filesystem::path p(path);
    fileTitle = p.filename().string();
    const std::size_t dot = fileTitle.rfind('.');
    fileExt = dot == std::string::npos ? std::string() : fileTitle.substr(dot + 1);
    const bool opened = OpenDispatch();
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

bool AppView::OpenDispatch() {
    // Every row keeps the previous object of its kind (and the display mode) unless the new one
    // loads, and says why in the status line when it does not; the title and the camera then
    // stay those of what is shown.
    std::string error;
    bool loaded = false;
    if (platform::hasExtension(fileTitle, "vox")) {
        auto model = std::make_unique<ldi::VoxelModel>();
        if (model->Open(fullPath) != 0 && model->loaded()) {
            displayMode = ModeVoxel;
            voxelModel = std::move(model);
            ldiLoaded = 1;
            loaded = true;
        } else {
            error = model->loadError();
        }
    } else if (platform::hasExtension(fileTitle, "ldiset")) {
        auto set = std::make_unique<ldi::LdiSet>();
        if (set->OpenSet(fullPath) == 0) {
            error = set->openError();
        } else if (firstSetLevel(*set) == nullptr) {
            error = fullPath + ": no level of any member pyramid loaded";
        } else {
            ForgetBorrowedLdi();
            displayMode = ModeLdiSet;
            ldiSet = std::move(set);
            ldiLoaded = 1;
            loaded = true;
        }
    } else if (platform::hasExtension(fileTitle, "ldipyr")) {
        auto levels = std::make_unique<ldi::LdiPyramid>();
        if (levels->OpenPyramid(fullPath) == 0) {
            error = levels->openError();
        } else if (levels->FirstLoadedLdi() == nullptr) {
            error = fullPath + ": no level of the pyramid loaded";
        } else {
            ForgetBorrowedLdi();
            displayMode = ModeLdiPyramid;
            pyramid = std::move(levels);
            ldiLoaded = 1;
            loaded = true;
        }
    } else {
        std::unique_ptr<ldi::LdiBase> object = ldi::LoadLdi(fullPath, &error);
        if (object) {
            switch (static_cast<ldi::DptType>(object->KindDptType())) {
                case ldi::DptType::CP:
                    displayMode = ModeLdiCp;
                    break;
                case ldi::DptType::QP:
                    displayMode = ModeLdiQp;
                    break;
                case ldi::DptType::MRQP:
                    displayMode = ModeLdiMrqp;
                    break;
                default:
                    break;
            }
            // In modes 10 and 11 the reset below makes a level current again.
            drawLdi = nullptr;
            singleLdi = std::move(object);
            ldi = singleLdi.get();
            ldiLoaded = 1;
            loaded = true;
        }
    }
    if (!loaded) {
        statusNote = error.empty() ? fullPath + ": cannot be loaded" : error;
        return false;
    }
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
