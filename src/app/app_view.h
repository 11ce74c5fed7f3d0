// The viewer core: AppView owns every loaded object, the frame images, the camera and every
// option and navigation field, and draws frames. It knows nothing of windows: the shell feeds it
// client-coordinate mouse events, virtual-key codes, command ids and timer ticks, and receives
// the window title, the status line, frame-ready notices and timer requests through callbacks.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/mesh_open.h"
#include "app/trackball.h"
#include "geometry/matrix.h"
#include "geometry/view_camera.h"
#include "imageutil/rgb_image.h"
#include "instrument/perf_counters.h"
#include "ldi/draw_common.h"
#include "ldi/ldi_base.h"
#include "ldi/ldi_pyramid.h"
#include "ldi/ldi_set.h"
#include "ldi/voxel_model.h"

namespace strata::app {

// What a frame draws (displayMode).
enum DisplayMode : std::int32_t {
    ModeNone = 0,
    ModeLdiQp = 4,
    ModeLdiCp = 5,
    ModeLdiMrqp = 6,
    ModeVoxel = 7,
    ModeLdiPyramid = 10,
    ModeLdiSet = 11,
};

// Drag modes (mouseMode), chosen at button-down from the modifiers held.
enum MouseMode : std::int32_t {
    MouseTranslate = 0,
    MousePan = 1,
    MouseDolly = 2,
    MouseZoom = 3,
    MouseOrbit = 4,
    MouseSpin = 5,
    MousePush = 6,
    MouseTurntable = 7,  // middle drag: turn about the pivot, world up kept upright
    MouseSlide = 8,      // Shift + middle drag: pan the view and the pivot together
    MouseNone = 99,
};

// Virtual-key codes the view handles.
namespace vk {
inline constexpr int kHome = 0x24;
inline constexpr int kLeft = 0x25;
inline constexpr int kUp = 0x26;
inline constexpr int kRight = 0x27;
inline constexpr int kDown = 0x28;
inline constexpr int kA = 0x41;
inline constexpr int kD = 0x44;
inline constexpr int kF = 0x46;
inline constexpr int kH = 0x48;
inline constexpr int kL = 0x4C;
inline constexpr int kN = 0x4E;
inline constexpr int kO = 0x4F;
inline constexpr int kR = 0x52;
inline constexpr int kS = 0x53;
inline constexpr int kT = 0x54;
inline constexpr int kU = 0x55;
inline constexpr int kZ = 0x5A;
inline constexpr int kNumpad0 = 0x60;
inline constexpr int kNumpad5 = 0x65;
inline constexpr int kF1 = 0x70;
inline constexpr int kF12 = 0x7B;
inline constexpr int kQuestion = 0xBF;  // the key of '?' and '/'
}  // namespace vk

// Command ids besides those of the command table.
inline constexpr int kIdFileOpen = 57601;
inline constexpr int kSpinTimerId = 1;
inline constexpr int kSpinTimerMs = 50;
inline constexpr int kDefaultFrameSide = 350;
// Pixels of disparity the stereo eyes give the nearest surfaces of the start view.
inline constexpr float kStereoDisparity = 4.0f;

// The frame timer: steady-clock nanoseconds around a frame, 64-bit throughout.
struct Stopwatch {
    std::int64_t start = 0;
    std::int64_t stop = 0;
    std::int64_t frequency = 0;
    std::int64_t ticks = 0;
    double seconds = 0.0;
    double cycles = 0.0;

    // 1 / seconds of the last start..stop (0 when no time passed).
    double rate();
    // "%s cycles/hz: %12.0f \t %12.2f\n" and "%s cycles: %12.2f \t %12.2f\n" (per item) to the
    // debug output, cycles counted at a fixed 550 MHz.
    void reportCycles(const std::string& label);
    void reportCyclesPerItem(const std::string& label, double items);
};

// Frames per second over the frames that ended in the last half second: their count over the
// time spent drawing them, so that pauses between frames do not count. With none in the window,
// the rate of the last frame.
class FrameRateMeter {
  public:
    static constexpr std::int64_t kWindowNanoseconds = 500'000'000;
    void add(std::int64_t startNanoseconds, std::int64_t stopNanoseconds);
    double perSecond() const;
    void clear() { count_ = 0; }

  private:
    struct Frame {
        std::int64_t start = 0;
        std::int64_t stop = 0;
    };
    static constexpr int kMost = 256;
    std::array<Frame, kMost> frames_{};
    int first_ = 0;
    int count_ = 0;
};

// The two stereo merges into left: colour (red from right, green and blue from left) and
// monochromatic (brightness of left in blue, of right in red). Images of the same size.
void MergeStereo(std::int32_t stereoMode, imageutil::RgbImage& left,
                 const imageutil::RgbImage& right);

// The objects of one file, loaded but not yet shown: what a view needs to show it. mode is
// ModeNone (error says why) when the file did not load.
struct LoadedObjects {
    std::int32_t mode = ModeNone;
    std::unique_ptr<ldi::VoxelModel> voxel;
    std::unique_ptr<ldi::LdiSet> set;
    std::unique_ptr<ldi::LdiPyramid> pyramid;
    std::unique_ptr<ldi::LdiBase> single;
    std::string error;
};

// Loads a file by its extension as File Open does (a voxel file, a set or pyramid list, an LDI of
// any kind). It touches no view, so a shell may run it on a thread of its own and hand the
// result to AppView::OpenLoaded.
LoadedObjects LoadObjects(const std::string& path);

class AppView {
  public:
    AppView();
    ~AppView();
    AppView(const AppView&) = delete;
    AppView& operator=(const AppView&) = delete;

    // ---- Shell callbacks (each may be empty) --------------------------------------------------
    std::function<void(const std::string&)> onTitle;   // window title
    std::function<void(const std::string&)> onStatus;  // status line, pane 0
    std::function<void()> onBlit;                      // frameImage is ready to show
    std::function<void(int id, int milliseconds)> onStartTimer;
    std::function<void(int id)> onKillTimer;
    // The file a command works on ("Save View...", "Load View..."): the shell asks the user and
    // returns the path, or "" when the choice was cancelled.
    std::function<std::string(int id)> onChooseFile;

    // ---- Messages -----------------------------------------------------------------------------
    // Frame images, view reset for the client size, redraw.
    void OnInitialUpdate();
    // Paint: a frame at once, then one more from the idle routine.
    void OnDraw();
    // Opens a file as File Open does after its dialog. False when nothing new was loaded: the
    // status line then says why (statusNote), and the picture, the title and the camera stay
    // those of what was shown.
    bool OpenFile(const std::string& path);
    // OpenFile with the objects already loaded (by LoadObjects, on any thread).
    bool OpenLoaded(const std::string& path, LoadedObjects&& loaded);
    // Any command of the command table, or File Open (ignored here: the shell asks for a path).
    void OnCommand(int id);
    // Saves the current view as a camera file (position, direction, up, field of view in
    // degrees, near, far and the frame size). False with error set; an existing file is then
    // left as it was.
    bool SaveView(const std::string& path, std::string& error) const;
    // Moves the camera to the view of a camera file (the frame keeps its own size; the field of
    // view is limited to the zoom range). False with error set; the camera is then unchanged.
    bool LoadView(const std::string& path, std::string& error);
    // Puts the camera at position looking along direction, with up made square to it; the field
    // of view stays and navigation goes on from there (as after Load View...).
    void PlaceCamera(const geometry::Vector3& position, const geometry::Vector3& direction,
                     const geometry::Vector3& up);
    // "Save View..." (save true) or "Load View...": asks the shell for the file through
    // onChooseFile, then saves or loads; a failure goes to the status line.
    void ChooseViewFile(int id, bool save);
    // ---- Meshes -------------------------------------------------------------------------------
    // Starts making an LDI of a mesh file in the background (meshJob); false (statusNote says
    // why) without a meshMaker or a file.
    bool StartMeshOpen(const std::string& path);
    // 0 while no make has ended, 1 when the made LDI is now shown, -1 when the make or its open
    // failed (statusNote says why; what was shown stays).
    int PollMeshOpen();
    // Drops the running make: what is shown stays, and its file goes once it ends.
    void CancelMeshOpen();
    // Waits for every make, the dropped ones too (their files are then gone).
    void WaitForMeshJobs();
    // "Save LDI As...": writes the single LDI shown. False with error set.
    bool SaveLdi(const std::string& path, std::string& error) const;
    std::shared_ptr<MeshMaker> meshMaker;  // supplied by the shell; none: meshes do not open
    std::unique_ptr<MeshJob> meshJob;
    std::vector<std::unique_ptr<MeshJob>> cancelledJobs;

    // The check mark of a command (false for commands that show none).
    bool IsChecked(int id) const;
    void OnKeyDown(int virtualKey);
    // Mouse messages in client coordinates (y counted downward, as the window reports them).
    void OnLButtonDown(int x, int y, bool shift, bool control);
    void OnLButtonUp(int x, int y);
    void OnRButtonDown(int x, int y, bool shift, bool control);
    void OnRButtonUp(int x, int y);
    void OnMouseMove(int x, int y);
    // The middle button: a turntable turn about the pivot, with Shift a pan that carries the
    // pivot along.
    void OnMButtonDown(int x, int y, bool shift, bool control);
    void OnMButtonUp(int x, int y);
    // The wheel: steps (120 a notch, positive away from the user) move the eye toward the pivot
    // by a share of the distance per notch, so it never reaches or passes the pivot.
    void OnMouseWheel(int x, int y, int delta);
    // A double click of the left button: the pivot becomes the nearest sample drawn at that
    // pixel (unchanged over background). True when the pivot moved.
    bool OnLButtonDblClk(int x, int y);
    void OnTimer(int id);
    // The idle routine: a frame when needsRedraw, the spin frame when timerTick. Returns 0.
    int OnIdle();

    // ---- Frames -------------------------------------------------------------------------------
    // Makes the frame images (once; later calls clear them). A size other than 350 x 350 may be
    // given before the first call.
    void CreateFrameImages(std::int32_t width = kDefaultFrameSide,
                           std::int32_t height = kDefaultFrameSide);
    // The frame follows the window: new frame images of width x height, the view angle kept on
    // the smaller side and pixels square, the camera where it was, and a frame asked for.
    // Sides below 1 are taken as 1.
    void ResizeFrame(std::int32_t width, std::int32_t height);
    void RenderFrame();  // timed, with the status line
    // The status line of the frame just timed (which it adds to the frame rate).
    std::string FrameStatus();
    void DrawFrame();  // floating-point modes, mono or stereo, blit
    void DrawMono();   // selection, background, object draw into targetImage
    void DrawStereo();
    void Blit();
    void SpinFrame();
    void DumpViews();
    void RunTest();  // Bench / Run test

    // ---- Navigation ---------------------------------------------------------------------------
    // Fit: the eye moves back along the current direction until every corner of the scene's
    // box lies inside the frame; the pivot becomes the box's centre.
    void FitView();
    // The surface point under client pixel (x, y): the nearest sample of the drawn LDI whose
    // footprint covers the pixel. False over background (and for voxel files).
    bool PickSurface(int x, int y, geometry::Vector3& point) const;
    // Every option the menus set back to its default (the view itself stays).
    void RestoreDefaultSettings();
    // F12: the frame as a PNG numbered one past the last one saved (beside it), or
    // frame-0001.png in the dump folder. The status line names the file or the failure.
    bool SaveNumberedFrame();
    // The key and mouse help, one "keys<TAB>what it does" line per binding.
    std::vector<std::string> HelpLines() const;
    void ResetView(std::int32_t width, std::int32_t height);
    bool MoveCamera();
    bool TurnCamera();
    bool InsideMovementBox(const geometry::Vector3& p) const;
    void RebuildFromViewMatrix(const geometry::Matrix4& view);
    // Opens fullPath by its extension; false (statusNote says why) when nothing new loaded.
    bool OpenDispatch();
    // Shows what LoadObjects loaded; false (statusNote says why) when it holds nothing.
    bool InstallObjects(LoadedObjects&& loaded);
    void UpdateTitle();
    // Hands the open-time settings (depth correction, backface, scanline, false colour, its
    // mode, size accuracy, bench flag) to ldi.
    void HandSettingsToLdi();
    // The settings the frame hands over, from the fields.
    ldi::FrameSettings CurrentFrameSettings() const;
    // Chooses drawLdi for the display mode.
    void ChooseObject();

    // ---- Files and objects --------------------------------------------------------------------
    std::string messageBuffer;
    std::string fullPath;
    std::string fileTitle;
    std::string fileExt;
    std::string statusNote;  // why the last open failed, shown after the frame rate
    std::int32_t ldiLoaded = 0;
    std::int32_t displayMode = ModeNone;
    bool timerTick = false;
    bool animate = false;
    std::int32_t timerId = 0;
    bool needsRedraw = false;
    std::unique_ptr<ldi::LdiBase> singleLdi;  // the object of the last LDI file opened
    std::unique_ptr<ldi::VoxelModel> voxelModel;
    std::unique_ptr<ldi::LdiPyramid> pyramid;
    std::unique_ptr<ldi::LdiSet> ldiSet;
    // The current LDI: the single LDI, or a pyramid level or set member level (never owned).
    ldi::LdiBase* ldi = nullptr;
    ldi::LdiBase* drawLdi = nullptr;  // drawn by the last frame (not owned)
    // Why the chosen pyramid level or set member cannot be drawn ("" when it can): the frame
    // then keeps the last picture and the status line gives the reason.
    std::string choiceFailure;
    Stopwatch frameStopwatch;
    std::string dumpFolder;      // where the view dump writes ("" = the current folder)
    std::string lastSavedFrame;  // the last frame file saved (F12 numbers on from it)
    FrameRateMeter frameRate;
    bool helpOverlay = false;  // F1 and ?: the shell shows HelpLines() over the view

    // ---- Frame images -------------------------------------------------------------------------
    std::int32_t frameWidth = 0;
    std::int32_t frameHeight = 0;
    std::int32_t clientWidth = kDefaultFrameSide;
    std::int32_t clientHeight = kDefaultFrameSide;
    imageutil::RgbImage frameImage;
    imageutil::RgbImage stereoImage;
    imageutil::RgbImage* targetImage = nullptr;

    // ---- Navigation ---------------------------------------------------------------------------
    geometry::Vector3 keyMotion;
    geometry::Vector3 navPosition;  // camera position kept by the move and turn steps
    geometry::Vector3 navExtra0;
    geometry::Vector3 navExtra1;
    std::int32_t navCounter0 = 0;
    std::int32_t navCounter1 = 0;
    geometry::Vector3 boundsMin;  // the scene's box
    geometry::Vector3 boundsMax;
    // Restrict Movement keeps the eye strictly inside this box: the scene's box when the start
    // lies inside it, else the box of both grown by a tenth of the scene's diagonal on every side.
    geometry::Vector3 movementMin;
    geometry::Vector3 movementMax;
    geometry::Vector3 refPosition;
    geometry::Vector3 refDirection;
    geometry::Vector3 refUp;
    geometry::Vector3 refSide;
    geometry::Vector3 lookAtCentre;
    // The point the middle drag turns about and the wheel moves toward: the scene's centre at a
    // reset, a picked surface point after a double click.
    geometry::Vector3 pivot;
    // The world's up axis, from the loaded file's reference camera (the coordinate axis nearest
    // its up vector; +y for voxel files and with nothing loaded).
    geometry::Vector3 worldUp{0.0f, 1.0f, 0.0f};
    std::int32_t lastMouseX = 0;
    std::int32_t lastMouseY = 0;
    std::int32_t currentMouseX = 0;  // position of the move being handled (y counted upward)
    std::int32_t currentMouseY = 0;
    float moveScale = 1.0f;
    std::int32_t mouseMode = MouseNone;
    std::int32_t orbitBehind = 0;
    std::int32_t orbitAboutPivot = 0;  // keys T (1) and O (0)
    float turnGain = 0.25f;
    float keyStep = 0.005f;
    float lookAtDepth = 0.0f;
    float spinAngle = 0.0f;
    // How far apart the stereo eyes stand (set by the view reset; see kStereoDisparity).
    float stereoSeparation = 0.0f;
    float panRateY = 0.0f;
    float panRateX = 0.0f;
    bool freezeSelection = false;
    bool upperToggle = false;  // key U
    bool lowerToggle = false;  // key L
    Trackball trackball;

    // ---- Matrices and camera ------------------------------------------------------------------
    geometry::Matrix4 viewportMatrix = geometry::Matrix4::identity();
    geometry::Matrix4 warpProjection = geometry::Matrix4::identity();
    geometry::Matrix4 clipProjection = geometry::Matrix4::identity();
    geometry::Matrix4 navRotation = geometry::Matrix4::identity();
    geometry::Matrix4 navViewMatrix = geometry::Matrix4::identity();
    geometry::Matrix4 warpMatrix = geometry::Matrix4::identity();
    geometry::Matrix4 clipMatrix = geometry::Matrix4::identity();  // viewport x clip x view
    geometry::ViewCamera viewCamera;
    geometry::Quaternion orientation;

    // ---- Options ------------------------------------------------------------------------------
    bool instrument = false;
    bool useSinglePrecision = true;
    bool useTrunc = true;
    // Threads that draw a frame; 0: left to the program (every core for the draws that gain from
    // them). The picture does not depend on it.
    std::int32_t drawThreads = 0;
    // How many threads drew the last timed frame (the status line says it).
    std::int32_t threadsDrawn = 1;
    bool relativeMouse = true;
    bool restrictMovement = false;
    bool useSplat = true;
    // Depth-tested splats shaped by the samples' surfaces, with a fill of small gaps: the default
    // (off: the blended footprints in order).
    bool highQualitySplats = true;
    bool useDepthCorrection = true;
    bool backfaceCulling = false;
    bool scanlineCulling = false;
    bool frustumClipper = true;
    bool frontSegment = true;
    bool backSegment = false;
    bool environmentMap = false;
    bool useLdp = false;
    bool useFalseColor = false;
    std::int32_t falseColorMode = 0;
    std::int32_t sizeAccurate = 0;
    std::int32_t stereoMode = 0;
    std::uint32_t backgroundColor = 0xB2B2B2u;
    bool horizonBackground = false;
    std::uint32_t groundColor = 0x0A3C0Au;
    bool benchFlag = false;

    // ---- Counters -----------------------------------------------------------------------------
    instrument::PerfCounters* counters = nullptr;  // the process-wide counters unless replaced
    instrument::CounterTable counterTable;

  private:
    // The frame's projection and viewport for view angle fov on the smaller side of a width x
    // height frame with square pixels.
    void SetProjection(float fov, std::int32_t width, std::int32_t height);
    // The camera becomes position, looking along direction with world up upright; false (and
    // nothing changes) where Restrict Movement refuses the position.
    bool PlaceUpright(const geometry::Vector3& position, const geometry::Vector3& direction);
    void TurntableBy(float dx, float dy);
    void SlideBy(float dx, float dy);
    // The navigation camera's axes in the world.
    geometry::Vector3 NavigationDirection() const;
    geometry::Vector3 NavigationUp() const;
    // The navigation's rotation: the trackball's turn times the navigation rotation.
    geometry::Matrix4 NavigationRotation() const;
    void CountedPasses();
    bool MoveTo(const geometry::Vector3& position, const geometry::Matrix4& rotation,
                bool checkBox);
    bool MoveBy(const geometry::Vector3& motion, bool checkBox);
    // Forgets pointers into objects about to be replaced.
    void ForgetBorrowedLdi();
    // The level the reset starts from in modes 10 and 11 (none when nothing loaded).
    ldi::LdiBase* ResetLevel() const;
    void SetStatus(const std::string& text);
    void ReapMeshJobs();
};

}  // namespace strata::app
