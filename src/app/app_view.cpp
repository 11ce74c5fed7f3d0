// The viewer core: opening files, the menu commands, navigation by mouse and keys, and the frame
// driver. Every input only changes fields and asks for a frame (needsRedraw or timerTick); the
// idle routine draws it. A frame chooses the object for the display mode, clears to the
// background, hands the switches over and draws through the frame function `strata render` uses.
#include "app/app_view.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "app/app_commands.h"
#include "geometry/frame_tangents.h"
#include "geometry/quaternion.h"
#include "ldi/ldi_factory.h"
#include "ldi/ldi_types.h"
#include "platform/clock.h"
#include "platform/debug_output.h"
#include "platform/file_io.h"
#include "platform/fp_mode.h"
#include "platform/worker_pool.h"
#include "render/camera_file.h"

namespace strata::app {

using geometry::Matrix4;
using geometry::Vector3;
using geometry::Vector4;

namespace {

constexpr double kTwoPi = 6.283185308;
constexpr float kZoomFloor = 0.017f;
constexpr float kZoomCeiling = 3.12f;  // below pi: the projection stays finite and unmirrored
constexpr float kPivotDistance = 0.7f;
constexpr double kStopwatchClock = 550000000.0;

Vector3 xyz(const Vector4& v) {
    return {v.x, v.y, v.z};
}

Vector3 turnDirection(const Matrix4& m, const Vector3& d) {
    return xyz(geometry::transform(m, geometry::direction(d)));
}

// The box of the header when it holds one (finite, min below max on every axis).
bool headerBox(const ldi::LdiBase& object, Vector3& min, Vector3& max) {
    const Vector3& a = object.header.boundsMin;
    const Vector3& b = object.header.boundsMax;
    const bool finite = std::isfinite(a.x) && std::isfinite(a.y) && std::isfinite(a.z) &&
                        std::isfinite(b.x) && std::isfinite(b.y) && std::isfinite(b.z);
    if (!finite || !(a.x < b.x) || !(a.y < b.y) || !(a.z < b.z)) {
        return false;
    }
    min = a;
    max = b;
    return true;
}

// The box of every depth pixel's nearest and farthest sample, carried back through the LDI's
// reference camera. False when the LDI holds no samples.
bool sampleBox(const ldi::LdiBase& object, Vector3& min, Vector3& max) {
    const Matrix4 worldFromLdi = geometry::inverse(object.header.view.fullTransform());
    bool any = false;
    const auto grow = [&](float x, float y, float z) {
        const Vector4 p = geometry::transform(worldFromLdi, {x, y, z, 1.0f});
        if (!(p.w != 0.0f)) {
            return;
        }
        const Vector3 q{p.x / p.w, p.y / p.w, p.z / p.w};
        if (!std::isfinite(q.x) || !std::isfinite(q.y) || !std::isfinite(q.z)) {
            return;
        }
        if (!any) {
            min = q;
            max = q;
            any = true;
            return;
        }
        min = {std::min(min.x, q.x), std::min(min.y, q.y), std::min(min.z, q.z)};
        max = {std::max(max.x, q.x), std::max(max.y, q.y), std::max(max.z, q.z)};
    };
    for (std::int32_t row = 0; row < object.height(); ++row) {
        for (std::int32_t col = 0; col < object.width(); ++col) {
            float lo = 0.0f;
            float hi = 0.0f;
            if (object.NormalisedDepthRange(row, col, lo, hi) != 0) {
                grow(static_cast<float>(col), static_cast<float>(row), lo);
                grow(static_cast<float>(col), static_cast<float>(row), hi);
            }
        }
    }
    return any && min.x < max.x && min.y < max.y && min.z < max.z;
}

// The first level that loaded in the set's first member pyramid that has one.
ldi::LdiBase* firstSetLevel(const ldi::LdiSet& set) {
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

// The unit dump directions, eye points on a sphere about the scene.
constexpr std::array<Vector3, 9> kDumpDirections{{
    {-0.394389f, 0.877f, 0.274461f},
    {0.393234f, 0.62554f, 0.673845f},
    {-0.969209f, 0.238905f, 0.059646f},
    {-0.527937f, 0.197513f, 0.825997f},
    {0.0f, 0.0f, 1.0f},
    {0.175294f, -0.21935f, 0.95977f},
    {0.874907f, -0.244744f, 0.417897f},
    {-0.616921f, -0.639391f, 0.458898f},
    {0.26455f, -0.88504f, 0.383038f},
}};

std::uint32_t maxChannel(std::uint32_t p) {
    return std::max({(p >> 16) & 0xFFu, (p >> 8) & 0xFFu, p & 0xFFu});
}

}  // namespace

// ---- Stopwatch ------------------------------------------------------------------------------

double Stopwatch::rate() {
    ticks = stop - start;
    seconds = frequency > 0 ? static_cast<double>(ticks) / static_cast<double>(frequency) : 0.0;
    return seconds > 0.0 ? 1.0 / seconds : 0.0;
}

void Stopwatch::reportCycles(const std::string& label) {
    const double hz = rate();
    cycles = seconds * kStopwatchClock;
    platform::debugPrintf("%s cycles/hz: %12.0f \t %12.2f\n", label.c_str(), cycles, hz);
}

void Stopwatch::reportCyclesPerItem(const std::string& label, double items) {
    rate();
    if (items > 0.0) {
        seconds /= items;
    }
    cycles = seconds * kStopwatchClock;
    platform::debugPrintf("%s cycles: %12.2f \t %12.2f\n", label.c_str(), cycles,
                          seconds > 0.0 ? 1.0 / seconds : 0.0);
}

void MergeStereo(std::int32_t stereoMode, imageutil::RgbImage& left,
                 const imageutil::RgbImage& right) {
    if (left.empty() || right.empty() || left.width != right.width || left.height != right.height) {
        return;
    }
    for (std::int32_t y = 0; y < left.height; ++y) {
        for (std::int32_t x = 0; x < left.width; ++x) {
            const std::uint32_t l = left.at(x, y);
            const std::uint32_t r = right.at(x, y);
            if (stereoMode == 1) {
                left.at(x, y) = (l & 0xFF00FFFFu) | (r & 0x00FF0000u);
            } else {
                left.at(x, y) = maxChannel(l) | (maxChannel(r) << 16);
            }
        }
    }
}

// ---- Construction ---------------------------------------------------------------------------

AppView::AppView() : counters(&instrument::counters()) {
    frameStopwatch.frequency = platform::kCounterFrequency;
}

AppView::~AppView() = default;

void AppView::SetStatus(const std::string& text) {
    if (onStatus) {
        onStatus(text);
    }
}

void AppView::OnInitialUpdate() {
    CreateFrameImages(frameWidth > 0 ? frameWidth : kDefaultFrameSide,
                      frameHeight > 0 ? frameHeight : kDefaultFrameSide);
    ResetView(clientWidth, clientHeight);
    needsRedraw = true;
}

void AppView::CreateFrameImages(std::int32_t width, std::int32_t height) {
    if (frameImage.empty()) {
        frameWidth = width;
        frameHeight = height;
        clientWidth = width;
        clientHeight = height;
        frameImage = imageutil::RgbImage::createOwned(width, height);
        stereoImage = imageutil::RgbImage::createOwned(width, height);
        targetImage = &frameImage;
    }
    frameImage.clear();
    stereoImage.clear();
}

void AppView::OnDraw() {
    RenderFrame();
    needsRedraw = true;
}

// ---- Files ----------------------------------------------------------------------------------

bool AppView::OpenFile(const std::string& path) {
    fullPath = path;
    platform::debugPrintf("Loading: %s\n", fullPath.c_str());
    const std::filesystem::path p(path);
    fileTitle = p.filename().string();
    const std::size_t dot = fileTitle.rfind('.');
    fileExt = dot == std::string::npos ? std::string() : fileTitle.substr(dot + 1);
    OpenDispatch();
    HandSettingsToLdi();
    return statusNote.empty();
}

void AppView::ForgetBorrowedLdi() {
    drawLdi = nullptr;
    ldi = singleLdi.get();
}

void AppView::OpenDispatch() {
    // Every row keeps the previous object of its kind (and the display mode) unless the new one
    // loads, and says why in the status line when it does not.
    std::string error;
    if (fileExt == "vox") {
        auto model = std::make_unique<ldi::VoxelModel>();
        if (model->Open(fullPath) != 0 && model->loaded()) {
            displayMode = ModeVoxel;
            voxelModel = std::move(model);
            ldiLoaded = 1;
        } else {
            error = model->loadError();
        }
    } else if (fileExt == "ldiset") {
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
        }
    } else if (fileExt == "ldipyr") {
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
        }
    } else {
        std::unique_ptr<ldi::LdiBase> loaded = ldi::LoadLdi(fullPath, &error);
        if (loaded) {
            switch (static_cast<ldi::DptType>(loaded->KindDptType())) {
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
            singleLdi = std::move(loaded);
            ldi = singleLdi.get();
            ldiLoaded = 1;
        } else if (error.empty()) {
            error = fullPath + ": cannot be loaded";
        }
    }
    statusNote = error;
    UpdateTitle();
    OnCommand(kIdReset);
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
    o.benchFlag = benchFlag ? 1 : 0;
}

// ---- Commands -------------------------------------------------------------------------------

void AppView::OnCommand(int id) {
    const CommandInfo* command = findCommand(id);
    if (command == nullptr) {
        return;
    }
    command->apply(*this);
    if (command->redraw) {
        needsRedraw = true;
    }
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
    const Vector3 dir = geometry::normalized(record.direction);
    const Vector3 up = geometry::normalized(geometry::cross(geometry::cross(dir, record.up), dir));
    const float fov =
        std::clamp(record.fovDegrees * (3.14159265f / 180.0f), kZoomFloor, kZoomCeiling);
    // The record's frame becomes the navigation rotation, with no trackball turn over it.
    keyMotion = Vector3{};
    const Trackball fresh = [&] {
        Trackball t;
        t.setSize(clientWidth, clientHeight, 0.8f);
        t.setGain(0.5f);
        return t;
    }();
    trackball = fresh;
    orientation = trackball.orientation;
    navRotation = geometry::lookAtRotation(dir, up);
    navPosition = record.position;
    // fov spans the frame's smaller side; pixels stay square in a wide or tall frame.
    const geometry::FrameTangents t = geometry::frameTangents(fov, clientWidth, clientHeight);
    warpProjection = geometry::frustum(-t.x, t.x, -t.y, t.y, 1.0f, -1.0f);
    clipProjection =
        geometry::frustum(0.1f * -t.x, 0.1f * t.x, 0.1f * -t.y, 0.1f * t.y, 0.1f, 10000.0f);
    viewCamera.fov = fov;
    viewCamera.near = record.near;
    viewCamera.far = record.far;
    viewCamera.projection = warpProjection;
    RebuildFromViewMatrix(geometry::product(
        navRotation,
        geometry::translation(-record.position.x, -record.position.y, -record.position.z)));
    needsRedraw = true;
    return true;
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

bool AppView::IsChecked(int id) const {
    const CommandInfo* command = findCommand(id);
    return command != nullptr && command->checked != nullptr && command->checked(*this);
}

// ---- Keys, mouse and timer ------------------------------------------------------------------

void AppView::OnKeyDown(int virtualKey) {
    Vector3 motion;
    bool move = false;
    switch (virtualKey) {
        case vk::kLeft:
            motion = {-keyStep, 0.0f, 0.0f};
            move = true;
            break;
        case vk::kUp:
            motion = {0.0f, 0.0f, -keyStep};
            move = true;
            break;
        case vk::kRight:
            motion = {keyStep, 0.0f, 0.0f};
            move = true;
            break;
        case vk::kDown:
            motion = {0.0f, 0.0f, keyStep};
            move = true;
            break;
        case vk::kA:
            motion = {0.0f, keyStep, 0.0f};
            move = true;
            break;
        case vk::kZ:
            motion = {0.0f, -keyStep, 0.0f};
            move = true;
            break;
        case vk::kD:
            freezeSelection = false;
            break;
        case vk::kS:
            freezeSelection = true;
            break;
        case vk::kH:
            DumpViews();
            break;
        case vk::kL:
            upperToggle = false;
            lowerToggle = !lowerToggle;
            needsRedraw = true;
            break;
        case vk::kU:
            lowerToggle = false;
            upperToggle = !upperToggle;
            needsRedraw = true;
            break;
        case vk::kN:
            lowerToggle = false;
            upperToggle = false;
            needsRedraw = true;
            break;
        case vk::kO:
            orbitAboutPivot = 0;
            break;
        case vk::kT:
            orbitAboutPivot = 1;
            break;
        case vk::kR:
            animate = !animate;
            if (animate) {
                timerId = kSpinTimerId;
                if (onStartTimer) {
                    onStartTimer(timerId, kSpinTimerMs);
                }
            } else if (onKillTimer) {
                onKillTimer(timerId);
            }
            break;
        default:
            if (virtualKey >= vk::kNumpad0 && virtualKey <= vk::kNumpad5) {
                if (pyramid && pyramid->levelCount > 0) {
                    pyramid->SetLevel(virtualKey - vk::kNumpad0);
                    if (pyramid->CurrentLdi() != nullptr) {
                        ldi = pyramid->CurrentLdi();
                    }
                }
                needsRedraw = true;
                freezeSelection = true;
            }
            break;
    }
    keyMotion = motion;
    if (move) {
        MoveCamera();
        needsRedraw = true;
    }
}

void AppView::OnLButtonDown(int x, int y, bool shift, bool control) {
    mouseMode = shift && control ? MouseSpin : (shift ? MouseOrbit : MousePan);
    const std::int32_t halfW = clientWidth / 2;
    const std::int32_t halfH = clientHeight / 2;
    if (halfW > 0 && halfH > 0) {
        panRateX = static_cast<float>(std::clamp(x - halfW, -(clientWidth / 2), halfW)) /
                   static_cast<float>(halfW);
        panRateY = static_cast<float>(std::clamp(halfH - y, -(clientHeight / 2), halfH)) /
                   static_cast<float>(halfH);
    }
    lastMouseX = x;
    lastMouseY = clientHeight - y;
}

void AppView::OnLButtonUp(int /*x*/, int /*y*/) {
    mouseMode = MouseNone;
    panRateX = 0.0f;
    panRateY = 0.0f;
}

void AppView::OnRButtonDown(int x, int y, bool shift, bool control) {
    lastMouseX = x;
    lastMouseY = clientHeight - y;
    if (shift && control) {
        mouseMode = MousePush;
    } else if (shift) {
        mouseMode = MouseDolly;
    } else if (control) {
        mouseMode = MouseZoom;
    } else {
        mouseMode = MouseTranslate;
    }
}

void AppView::OnRButtonUp(int /*x*/, int /*y*/) {
    mouseMode = MouseNone;
    keyMotion = Vector3{};
}

void AppView::OnMouseMove(int x, int y) {
    const std::int32_t yUp = clientHeight - y;
    currentMouseX = x;
    currentMouseY = yUp;
    const float dx = static_cast<float>(x - lastMouseX);
    const float dy = static_cast<float>(yUp - lastMouseY);
    const float len = std::sqrt(dx * dx + dy * dy);
    const auto requestFrame = [this] {
        if (animate) {
            timerTick = true;
        } else {
            needsRedraw = true;
        }
    };
    switch (mouseMode) {
        case MouseTranslate: {
            Vector3 step;
            if (len > 0.0f) {
                // Mostly horizontal drags move sideways, mostly vertical ones up and down;
                // diagonal drags (both cosines at least 0.3) move nothing.
                const float k = 1.0f / len;
                if (std::fabs(dy * k) < 0.3f) {
                    step = {dx * keyStep, 0.0f, 0.0f};
                } else if (std::fabs(dx * k) < 0.3f) {
                    step = {0.0f, dy * keyStep, 0.0f};
                }
            }
            keyMotion = -step;
            MoveCamera();
            requestFrame();
            break;
        }
        case MouseDolly:
            keyMotion = {0.0f, 0.0f, -dy * keyStep};
            MoveCamera();
            requestFrame();
            break;
        case MousePush:
            keyMotion = {0.0f, 0.0f, dy * keyStep};
            MoveCamera();
            timerTick = true;
            break;
        case MouseZoom: {
            const float f = std::clamp(viewCamera.fov - 0.005f * dy, kZoomFloor, kZoomCeiling);
            const geometry::FrameTangents t = geometry::frameTangents(f, clientWidth, clientHeight);
            warpProjection = geometry::frustum(-t.x, t.x, -t.y, t.y, 1.0f, -1.0f);
            clipProjection = geometry::frustum(-t.x, t.x, -t.y, t.y, 1.0f, 1000.0f);
            viewCamera.fov = f;
            viewCamera.projection = warpProjection;
            warpMatrix =
                geometry::product(geometry::product(viewportMatrix, warpProjection), navViewMatrix);
            clipMatrix =
                geometry::product(geometry::product(viewportMatrix, clipProjection), navViewMatrix);
            needsRedraw = true;
            break;
        }
        case MouseSpin:
            spinAngle += 0.2f * keyStep * dx;
            timerTick = true;
            break;
        case MousePan:
        case MouseOrbit: {
            const std::int32_t halfW = clientWidth / 2;
            const std::int32_t halfH = clientHeight / 2;
            if (halfW > 0 && halfH > 0) {
                const std::int32_t ox = std::clamp(x - halfW, -(clientWidth / 2), halfW);
                const std::int32_t oy = std::clamp(halfH - y, -(clientHeight / 2), halfH);
                panRateX = static_cast<float>(ox) / static_cast<float>(halfW);
                panRateY = static_cast<float>(oy) / static_cast<float>(halfH);
                TurnCamera();
                needsRedraw = true;
            }
            break;
        }
        default:
            break;
    }
    lastMouseX = x;
    lastMouseY = yUp;
}

void AppView::OnTimer(int /*id*/) {
    const double sum = static_cast<double>(spinAngle + 0.01f);
    spinAngle = static_cast<float>(sum > kTwoPi ? sum - kTwoPi : sum);
    timerTick = true;
}

int AppView::OnIdle() {
    if (needsRedraw) {
        RenderFrame();
        needsRedraw = false;
    }
    if (timerTick) {
        SpinFrame();
        timerTick = false;
    }
    return 0;
}

// ---- Camera steps ---------------------------------------------------------------------------

bool AppView::InsideMovementBox(const Vector3& p) const {
    if (!restrictMovement) {
        return true;
    }
    return boundsMin.x < p.x && p.x < boundsMax.x && boundsMin.y < p.y && p.y < boundsMax.y &&
           boundsMin.z < p.z && p.z < boundsMax.z;
}

void AppView::RebuildFromViewMatrix(const Matrix4& view) {
    navViewMatrix = view;
    const Matrix4 inverse = geometry::inverse(view);
    const Vector4 origin = geometry::transform(inverse, {0.0f, 0.0f, 0.0f, 1.0f});
    const float w = origin.w != 0.0f ? origin.w : 1.0f;
    viewCamera.pos = {origin.x / w, origin.y / w, origin.z / w};
    viewCamera.dir = xyz(geometry::transform(inverse, {0.0f, 0.0f, -1.0f, 0.0f}));
    viewCamera.up = xyz(geometry::transform(inverse, {0.0f, 1.0f, 0.0f, 0.0f}));
    warpMatrix = geometry::product(geometry::product(viewportMatrix, warpProjection), view);
    clipMatrix = geometry::product(geometry::product(viewportMatrix, clipProjection), view);
}

bool AppView::MoveTo(const Vector3& position, const Matrix4& rotation, bool checkBox) {
    Matrix4 view;
    const Matrix4 toPosition = geometry::translation(-position.x, -position.y, -position.z);
    if (orbitAboutPivot != 0) {
        view = geometry::product(
            geometry::product(geometry::translation(0.0f, 0.0f, -kPivotDistance),
                              geometry::transpose(rotation)),
            geometry::product(geometry::translation(0.0f, 0.0f, kPivotDistance), toPosition));
    } else {
        view = geometry::product(rotation, toPosition);
    }
    const Vector4 eye = geometry::transform(geometry::inverse(view), {0.0f, 0.0f, 0.0f, 1.0f});
    const float w = eye.w != 0.0f ? eye.w : 1.0f;
    if (checkBox && !InsideMovementBox({eye.x / w, eye.y / w, eye.z / w})) {
        return false;
    }
    navPosition = position;
    RebuildFromViewMatrix(view);
    return true;
}

bool AppView::MoveBy(const Vector3& motion, bool checkBox) {
    const Matrix4 rotation =
        geometry::product(geometry::rotationMatrix(trackball.orientation), navRotation);
    const Vector3 step = turnDirection(geometry::transpose(rotation), motion);
    return MoveTo(navPosition + step, rotation, checkBox);
}

bool AppView::MoveCamera() {
    return MoveBy(keyMotion, true);
}

bool AppView::TurnCamera() {
    Trackball turned = trackball;
    if (relativeMouse) {
        turned.drag(lastMouseX, lastMouseY, currentMouseX, currentMouseY, turnGain);
    } else {
        turned.drag(0, 0, static_cast<std::int32_t>(100.0f * panRateX),
                    static_cast<std::int32_t>(100.0f * panRateY), turnGain);
    }
    const Matrix4 rotation =
        geometry::product(geometry::rotationMatrix(turned.orientation), navRotation);
    Vector3 position = navPosition;
    if (orbitAboutPivot == 0 && mouseMode == MouseOrbit) {
        // Orbit about the point moveScale in front of (or behind) the camera.
        const Vector3 centre{0.0f, 0.0f, orbitBehind != 0 ? moveScale : -moveScale};
        const Matrix4 before = geometry::rotationMatrix(trackball.orientation);
        const Matrix4 delta = geometry::rotationMatrix(
            geometry::product(turned.orientation, geometry::inverse(trackball.orientation)));
        position = position + turnDirection(before, turnDirection(delta, centre) - centre);
    }
    if (!MoveTo(position, rotation, true)) {
        return false;
    }
    trackball = turned;
    orientation = turned.orientation;
    return true;
}

// ---- View reset -----------------------------------------------------------------------------

ldi::LdiBase* AppView::ResetLevel() const {
    if (displayMode == ModeLdiPyramid && pyramid) {
        ldi::LdiBase* level = pyramid->CurrentLdi();
        return level != nullptr ? level : pyramid->FirstLoadedLdi();
    }
    if (displayMode == ModeLdiSet && ldiSet) {
        return firstSetLevel(*ldiSet);
    }
    return nullptr;
}

void AppView::ResetView(std::int32_t width, std::int32_t height) {
    keyMotion = Vector3{};
    navPosition = Vector3{};
    navExtra0 = Vector3{};
    navExtra1 = Vector3{};
    navCounter0 = 0;
    navCounter1 = 0;
    // RESET starts over: the accumulated trackball angles go too.
    trackball = Trackball{};
    trackball.setSize(width, height, 0.8f);
    trackball.setGain(0.5f);
    orientation = trackball.orientation;

    viewCamera.near = 0.1f;
    viewCamera.far = 10000.0f;
    viewCamera.fov = 0.7853982f;
    const geometry::FrameTangents t = geometry::frameTangents(viewCamera.fov, width, height);
    warpProjection = geometry::frustum(-t.x, t.x, -t.y, t.y, 1.0f, -1.0f);
    clipProjection =
        geometry::frustum(0.1f * -t.x, 0.1f * t.x, 0.1f * -t.y, 0.1f * t.y, 0.1f, 10000.0f);
    viewportMatrix = geometry::viewport(0, width, 0, height);
    warpMatrix = geometry::product(viewportMatrix, warpProjection);
    clipMatrix = geometry::product(viewportMatrix, clipProjection);
    viewCamera.viewport = viewportMatrix;
    viewCamera.projection = warpProjection;

    const bool single =
        displayMode == ModeLdiQp || displayMode == ModeLdiCp || displayMode == ModeLdiMrqp;
    const bool layered = displayMode == ModeLdiPyramid || displayMode == ModeLdiSet;
    const ldi::LdiBase* source = nullptr;
    if (single) {
        source = ldi;
    } else if (layered) {
        ldi::LdiBase* level = ResetLevel();
        if (level != nullptr) {
            ldi = level;
            source = level;
        }
    }
    if (source != nullptr) {
        const geometry::ViewCamera& ref = source->header.view;
        refPosition = ref.pos;
        refDirection = ref.dir;
        refUp = ref.up;
        if (!headerBox(*source, boundsMin, boundsMax) &&
            !sampleBox(*source, boundsMin, boundsMax)) {
            // No box in the file and none from the samples: a cube of side 2 about the
            // reference camera.
            boundsMin = refPosition - Vector3{1.0f, 1.0f, 1.0f};
            boundsMax = refPosition + Vector3{1.0f, 1.0f, 1.0f};
        }
    } else {
        refPosition = {0.0f, 0.0f, 0.0f};
        refDirection = {0.0f, 0.0f, -1.0f};
        refUp = {0.0f, 1.0f, 0.0f};
        boundsMin = {-1.0f, -1.0f, -1.0f};
        boundsMax = {1.0f, 1.0f, 1.0f};
    }
    if (source != nullptr && layered) {
        // Pyramids and sets choose their level by the distance from (0, 0, lookAtDepth).
        lookAtDepth = boundsMax.z - boundsMin.z;
    }
    // The camera starts at the reference camera: for pyramids and sets that of the level the
    // reset picks. (A start looking along +y with +z up would see the maker's y-up scenes
    // edge-on from below.)
    navPosition = refPosition;
    navRotation = geometry::lookAtRotation(refDirection, refUp);
    refSide = geometry::cross(refDirection, refUp);

    const float d = boundsMax.z - boundsMin.z;
    lookAtCentre = refPosition + refDirection * (0.5f * d);
    const float diagonal = (boundsMax - boundsMin).length();
    moveScale = 2.0f * diagonal;
    keyStep = 0.0033333334f * diagonal;

    // With keyMotion zero these only rebuild the camera and the warp matrix; the reset is taken
    // even where Restrict Movement would refuse the starting position.
    MoveBy(keyMotion, false);
    currentMouseX = lastMouseX;
    currentMouseY = lastMouseY;
    TurnCamera();
}

// ---- Frames ---------------------------------------------------------------------------------

ldi::FrameSettings AppView::CurrentFrameSettings() const {
    ldi::FrameSettings s;
    s.useSplat = useSplat;
    s.highQualitySplats = highQualitySplats;
    s.useDepthCorrection = useDepthCorrection;
    s.backfaceCulling = backfaceCulling;
    s.scanlineCulling = scanlineCulling;
    s.frustumClipper = frustumClipper;
    s.useFalseColor = useFalseColor;
    s.falseColorMode = falseColorMode;
    s.sizeAccurate = sizeAccurate;
    s.lowerHalfOnly = lowerToggle;
    s.upperHalfOnly = upperToggle;
    s.benchFlag = benchFlag;
    s.useTrunc = useTrunc;
    s.useSinglePrecision = useSinglePrecision;
    s.background = backgroundColor;
    s.horizonBackground = horizonBackground;
    s.groundColor = groundColor;
    return s;
}

void AppView::ChooseObject() {
    switch (displayMode) {
        case ModeLdiQp:
        case ModeLdiCp:
        case ModeLdiMrqp:
            drawLdi = ldi;
            break;
        case ModeLdiPyramid:
            drawLdi = nullptr;
            if (pyramid) {
                if (!freezeSelection) {
                    lookAtCentre = {0.0f, 0.0f, lookAtDepth};
                }
                drawLdi = ldi::ChooseLevel(*pyramid, viewCamera.pos, lookAtDepth, freezeSelection);
            }
            break;
        case ModeLdiSet:
            drawLdi = nullptr;
            if (ldiSet) {
                lookAtCentre = {0.0f, 0.0f, lookAtDepth};
                drawLdi = ldi::ChooseMemberAndLevel(*ldiSet, viewCamera.pos, lookAtDepth,
                                                    freezeSelection);
            }
            break;
        default:
            drawLdi = nullptr;
            break;
    }
}

void AppView::DrawMono() {
    if (ldiLoaded == 0 || targetImage == nullptr || targetImage->empty()) {
        return;
    }
    ChooseObject();
    if (displayMode == ModeVoxel) {
        ldi::DrawFrameVoxels(voxelModel.get(), CurrentFrameSettings(), warpMatrix, viewCamera,
                             *targetImage);
        return;
    }
    // A chosen level or member that did not load: the last picture stays, and the status line
    // gives the reason.
    choiceFailure.clear();
    if (displayMode == ModeLdiPyramid && pyramid) {
        choiceFailure = ldi::ChosenLevelFailure(*pyramid);
    } else if (displayMode == ModeLdiSet && ldiSet) {
        choiceFailure = ldi::ChosenMemberFailure(*ldiSet);
    }
    if (!choiceFailure.empty()) {
        return;
    }
    ldi::DrawFrameObject(drawLdi, CurrentFrameSettings(), ldi::HandOver::frameSwitches, warpMatrix,
                         viewCamera, *targetImage);
}

void AppView::DrawStereo() {
    DrawMono();
    // The second eye: shifted sideways in the camera's own axes by two near-plane pixels,
    // always taken (never refused by the movement box) and always undone exactly.
    const Vector3 savedPosition = navPosition;
    const Matrix4 savedView = navViewMatrix;
    const Matrix4 savedWarp = warpMatrix;
    const Matrix4 savedClip = clipMatrix;
    const geometry::ViewCamera savedCamera = viewCamera;
    const float width = static_cast<float>(frameWidth > 0 ? frameWidth : kDefaultFrameSide);
    const Vector3 eyeShift{2.0f * viewCamera.near / width, 0.0f, 0.0f};
    keyMotion = eyeShift;
    MoveBy(keyMotion, false);
    targetImage = &stereoImage;
    const bool savedEnvironment = environmentMap;
    environmentMap = false;
    DrawMono();
    environmentMap = savedEnvironment;
    MergeStereo(stereoMode, frameImage, stereoImage);
    keyMotion = -eyeShift;
    navPosition = savedPosition;
    navViewMatrix = savedView;
    warpMatrix = savedWarp;
    clipMatrix = savedClip;
    viewCamera = savedCamera;
    targetImage = &frameImage;
}

void AppView::DrawFrame() {
    if (drawThreads > 0) {
        platform::setDrawThreads(drawThreads);
    } else if (!platform::drawThreadsAutomatic()) {
        platform::setDrawThreadsAutomatic();
    }
    {
        const platform::FpModeGuard modes(useTrunc, useSinglePrecision);
        if (stereoMode != 0) {
            DrawStereo();
        } else {
            DrawMono();
        }
    }
    Blit();
}

void AppView::Blit() {
    if (onBlit) {
        onBlit();
    }
}

void AppView::CountedPasses() {
    counterTable.events.assign(instrument::kBenchEvents.begin(), instrument::kBenchEvents.end());
    instrument::PerfCounters& perf = counters != nullptr ? *counters : instrument::counters();
    const bool available = perf.PerfInit() != 0;
    {
        const platform::FpModeGuard modes(useTrunc, useSinglePrecision);
        instrument::countPasses(perf, available, counterTable, [this] {
            if (stereoMode != 0) {
                DrawStereo();
            } else {
                DrawMono();
            }
        });
    }
    instrument::printCounterTable(counterTable, available, perf.unavailableReason());
}

void AppView::RenderFrame() {
    frameStopwatch.start = platform::steadyNanoseconds();
    if (!instrument) {
        DrawFrame();
    } else {
        CountedPasses();
        Blit();
    }
    frameStopwatch.stop = platform::steadyNanoseconds();
    const double hz = frameStopwatch.rate();
    messageBuffer = platform::formatString("hz: %6.2f\t<%6.2f %6.2f %6.2f>", hz, navPosition.x,
                                           navPosition.y, navPosition.z);
    if (!statusNote.empty()) {
        messageBuffer += "\t" + statusNote;
    }
    if (!choiceFailure.empty()) {
        messageBuffer += "\t" + choiceFailure;
    }
    SetStatus(messageBuffer);
}

void AppView::RunTest() {
    benchFlag = !benchFlag;
    if (ldi != nullptr) {
        ldi->options.benchFlag = benchFlag ? 1 : 0;
    }
    CountedPasses();
    Blit();
}

// ---- Spin and dump --------------------------------------------------------------------------

void AppView::SpinFrame() {
    // Turn the scene about the navigation frame's z axis through the origin, seen from the
    // navigation position; the navigation state itself stays.
    const float c = std::cos(spinAngle);
    const float s = std::sin(spinAngle);
    Matrix4 spin = Matrix4::identity();
    spin(0, 0) = c;
    spin(0, 1) = -s;
    spin(1, 0) = s;
    spin(1, 1) = c;
    const Matrix4 turned = geometry::product(navRotation, spin);
    const Vector3 offset = -turnDirection(navRotation, navPosition);
    RebuildFromViewMatrix(
        geometry::product(geometry::translation(offset.x, offset.y, offset.z), turned));
    if (displayMode == ModeLdiSet && ldiSet) {
        // The spin reselects the member about the look-at centre on the other side.
        const std::int32_t before = ldiSet->currentMember;
        ldi::ChooseMemberAndLevel(*ldiSet, viewCamera.pos, -lookAtDepth, freezeSelection);
        if (ldiSet->currentMember != before) {
            platform::debugPrintf("switched from %d to %d\t", before, ldiSet->currentMember);
            platform::debugPrintf("%f %f %f\n", static_cast<double>(viewCamera.dir.x),
                                  static_cast<double>(viewCamera.dir.y),
                                  static_cast<double>(viewCamera.dir.z));
        }
    }
    frameStopwatch.start = platform::steadyNanoseconds();
    DrawFrame();
    frameStopwatch.stop = platform::steadyNanoseconds();
    const double hz = frameStopwatch.rate();
    SetStatus(platform::formatString("hz: %6.2f\t<%6.2f %6.2f %6.2f>", hz, navPosition.x,
                                     navPosition.y, navPosition.z));
}

void AppView::DumpViews() {
    const float h = 0.5f * (boundsMax.x - boundsMin.x);
    for (std::size_t i = 0; i < kDumpDirections.size(); ++i) {
        const Vector3 eye = kDumpDirections[i] * h + Vector3{0.0f, 0.0f, -h};
        const Vector3 look = geometry::normalized(Vector3{0.0f, 0.0f, -3.0f * h} - eye);
        const Vector3 eyeTurned = turnDirection(navRotation, eye);
        const Vector3 lookTurned = geometry::normalized(turnDirection(navRotation, look));
        // An up vector along the viewing direction has no side: take another.
        Vector3 up = geometry::normalized(refUp);
        if (geometry::cross(lookTurned, up).length() < 1e-4f) {
            up = std::fabs(lookTurned.z) < 0.9f ? Vector3{0.0f, 0.0f, 1.0f}
                                                : Vector3{0.0f, 1.0f, 0.0f};
        }
        RebuildFromViewMatrix(
            geometry::product(geometry::lookAtRotation(lookTurned, up),
                              geometry::translation(-eyeTurned.x, -eyeTurned.y, -eyeTurned.z)));
        DrawFrame();
        const std::string name = platform::formatString("ldi_dump%zu.bmp", i);
        const std::string path = dumpFolder.empty() ? name : platform::joinPath(dumpFolder, name);
        if (targetImage != nullptr) {
            targetImage->writeBMP(path);
        }
    }
}

}  // namespace strata::app
