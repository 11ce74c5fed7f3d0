// Command-line pieces shared by `strata make`, `strata trace` and `strata render`: the camera
// flags (--pos x,y,z --dir x,y,z --up x,y,z --fov DEGREES --near --far), the shading flags of
// make and trace, and a progress bar on stderr for work longer than about a second.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "geometry/vector.h"
#include "maker/pinhole_camera.h"
#include "maker/shading.h"

namespace CLI {
class App;
}

namespace strata::tools {

// The camera flags as given; an empty text means the flag was not given.
struct CameraOptions {
    std::string pos;
    std::string dir;
    std::string up;
    std::string fovDegrees;
    std::string near;
    std::string far;

    bool any() const {
        return !pos.empty() || !dir.empty() || !up.empty() || !fovDegrees.empty() ||
               !near.empty() || !far.empty();
    }
};

// Adds the six flags to a subcommand.
void addCameraOptions(CLI::App& command, CameraOptions& options);

// Parses "x,y,z" (three finite numbers separated by commas). False when malformed.
bool parseVector3(const std::string& text, geometry::Vector3& v);
// Parses one finite number. False when malformed.
bool parseFloat(const std::string& text, float& value);

// Overrides the fields of `camera` that were given (fov in degrees) and normalises it. False with
// a message naming the flag when a value is malformed or the camera is degenerate.
bool applyCameraOptions(const CameraOptions& options, maker::PinholeCamera& camera,
                        std::string& error);

// The camera of a scene for the flags: the scene's default view (its bounding sphere framed from
// +z), with the given flags over it; a --pos without --dir looks at the scene centre.
bool sceneCamera(const CameraOptions& options, const maker::Scene& scene,
                 maker::PinholeCamera& camera, std::string& error);
// The flags over `camera`, as sceneCamera applies them: a --pos without --dir looks at centre.
bool aimCamera(const CameraOptions& options, const geometry::Vector3& centre,
               maker::PinholeCamera& camera, std::string& error);

// The shading flags as given (--shading unlit|lambert|normal, --light x,y,z, --ambient a); an
// empty text or a negative ambient means the flag was not given.
struct ShadingFlags {
    std::string shading;
    std::string light;
    float ambient = -1.0f;
};

// Adds the three flags to a subcommand; --ambient outside 0..1 (or not a finite number) is
// refused while parsing.
void addShadingOptions(CLI::App& command, ShadingFlags& flags);

// Most ray-casting threads accepted by --threads.
inline constexpr int kMaxThreads = 256;
// Adds --threads N (0..kMaxThreads, 0: all cores; anything else refused while parsing).
void addThreadsOption(CLI::App& command, int& threads);
// The thread count for a --threads value: the value, or every core for 0.
int threadCount(int threads);

// The scene's default shading (lambert for the demo, unlit for meshes) with the given flags over
// it. False with a message when a value is malformed.
bool applyShadingOptions(const ShadingFlags& flags, const maker::Scene& scene,
                         maker::ShadingOptions& shading, std::string& error);

// The field of view the flags ask for, in radians (the default when not given or malformed).
float requestedFov(const CameraOptions& options);

// Draws "label [#####.....]  45%" on stderr, only when stderr is a terminal and only once the
// work has run for a second; finish() clears the line.
class TerminalProgress {
  public:
    TerminalProgress();
    ~TerminalProgress();
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    void update(const std::string& label, double fraction);
    void finish();

  private:
    bool terminal_ = false;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point start_;
    int lastPercent_ = -1;
    std::string lastLabel_;
};

// Parses arguments as they follow the command's name on a command line with the command's option
// table. False with the parser's message.
bool parseArguments(CLI::App& command, const std::vector<std::string>& arguments,
                    std::string& error);
// The long flag names ("--size") of the command, or only of those given.
std::vector<std::string> longFlagNames(const CLI::App& command, bool givenOnly);

// The drawing thread count of `strata render` and `strata bench`: a whole number 1..kMaxThreads,
// nothing else. False when malformed or out of range.
bool parseThreads(const std::string& text, int& threads);

}  // namespace strata::tools
