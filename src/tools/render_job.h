// `strata render` as a library: its flags parsed, checked and defaulted by the command's own
// code, the camera it draws from and one frame drawn as it draws it. The command runs through
// this, and so does anything else that must give the command's pictures (the Python package).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "imageutil/rgb_image.h"
#include "ldi/draw_common.h"
#include "maker/pinhole_camera.h"
#include "render/camera_file.h"
#include "render/output_view.h"
#include "tools/sequence.h"
#include "tools/viewer_file.h"

namespace strata::tools {

struct RenderArgs;

// The camera of one frame: the pinhole, the frame size and the output camera's depth range.
struct FrameCamera {
    maker::PinholeCamera camera;
    std::int32_t width = 0;
    std::int32_t height = 0;
    float near = render::kDefaultNear;
    float far = render::kDefaultFar;
};

// The output view of a frame camera, as the command builds it.
render::OutputView frameView(const FrameCamera& camera);

// One frame from a camera record, as a frame of --orbit or --path (and --camera with no other
// camera flag) draws it. False with a message when the record cannot view.
bool drawRecord(ViewerFile& file, const ldi::FrameSettings& settings,
                const render::CameraRecord& record, imageutil::RgbImage& frame, std::string& error);

class RenderJob {
  public:
    RenderJob();
    explicit RenderJob(const RenderArgs& args);
    ~RenderJob();
    RenderJob(RenderJob&&) noexcept;
    RenderJob& operator=(RenderJob&&) noexcept;

    // Parses the arguments that follow `strata render` on a command line (the file, -o and the
    // flags) with the command's own option table, then check(). False with the line the command
    // prints (without its "strata render: " prefix).
    bool parse(const std::vector<std::string>& arguments, std::string& error);
    // The checks of the flags that need no file. False with the command's message.
    bool check(std::string& error);

    // The long names of the flags given ("--yaw"); the file and -o are always given.
    const std::vector<std::string>& given() const { return given_; }
    // Every long flag name the command takes.
    static std::vector<std::string> flagNames();
    // True when a flag moves the camera or names one (camera flags, --offset, --yaw, --pitch,
    // --camera, --size).
    bool movesCamera() const;

    const std::string& input() const;
    const std::string& output() const;
    // The drawing thread count asked for, 0 for the program's choice.
    int threads() const { return threads_; }
    // The switches of every frame.
    const ldi::FrameSettings& settings() const { return settings_; }
    // True for --orbit or --path; then target() is where the frames go.
    bool sequence() const;
    const SequenceTarget& target() const { return target_; }

    // The camera the command draws from for file: the record (taken as --camera of a file
    // holding it) or else the --camera file or the file's reference camera with the viewer's
    // field of view, with the camera flags over it, and the frame size. False with a message.
    bool camera(const ViewerFile& file, const render::CameraRecord* record, FrameCamera& camera,
                std::string& error) const;
    // The cameras of --orbit (about the file's centre from `start`) or --path. False with a
    // message when the path file is refused.
    bool sequenceCameras(const ViewerFile& file, const FrameCamera& start,
                         std::vector<render::CameraRecord>& cameras, std::string& error) const;

  private:
    std::unique_ptr<RenderArgs> args_;
    std::vector<std::string> given_;
    int threads_ = 0;
    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
    SequenceTarget target_;
    double orbitDegrees_ = 0.0;
    ldi::FrameSettings settings_;
};

// Sets the drawing threads of the frames to come: the count, or the program's choice for 0.
void useDrawThreads(int threads);

}  // namespace strata::tools
