// Frame sequences of `strata render` and `strata trace`: the --orbit, --path and --fps flags, the
// output target (a numbered picture pattern such as frames/%04d.png, or a video encoded by the
// ffmpeg program), and the loop that draws every camera of a sequence with a progress bar.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "imageutil/rgb_image.h"
#include "render/camera_file.h"

namespace CLI {
class App;
}

namespace strata::tools {

struct SequenceOptions {
    std::string orbitDegrees;  // "" when not given
    std::string path;          // camera path file, "" when not given
    std::int32_t frames = 0;
    std::int32_t fps = 30;

    bool requested() const { return !orbitDegrees.empty() || !path.empty(); }
};

// Adds --orbit, --path and --fps; --frames too when withFrames (render has its own --frames).
void addSequenceOptions(CLI::App& command, SequenceOptions& options, bool withFrames);

// Where the frames go: a pattern with one integer conversion (%d, %4d, %04d), or a video file.
struct SequenceTarget {
    std::string pattern;
    std::string video;  // when not empty the frames are encoded into this file
};

// Checks the options and the output name: --orbit a finite number of degrees, --path alone,
// --frames 1..100000, --fps 1..240, and -o either a pattern for .png or .bmp pictures or a video
// (.mp4, .mkv, .mov, .webm, .avi, .gif). False with one line.
bool checkSequence(const SequenceOptions& options, const std::string& output,
                   SequenceTarget& target, double& orbitDegrees, std::string& error);

// True when text holds exactly one conversion %d, %Nd or %0Nd (N up to two digits) and no other
// conversion than %%.
bool isFramePattern(const std::string& text);

// The file name of frame i of a pattern checked by checkSequence.
std::string frameName(const std::string& pattern, std::int32_t index);

// The full path of an executable program found on PATH, or "".
std::string findProgram(const std::string& name);

// Draws one frame for a camera into frame (sized by the caller from the record). False with a
// message.
using FrameDrawer = std::function<bool(const render::CameraRecord& camera,
                                       imageutil::RgbImage& frame, std::string& error)>;

// Draws every camera and writes the frames to the target, with a progress bar; for a video
// first looks for ffmpeg (without it: one line saying so and suggesting a picture pattern,
// nothing drawn). Returns the exit status; messages start with `tool`.
int runSequence(const std::string& tool, const std::vector<render::CameraRecord>& cameras,
                const SequenceTarget& target, std::int32_t fps, const FrameDrawer& draw);

}  // namespace strata::tools
