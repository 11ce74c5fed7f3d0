// `strata make` and `strata trace` as a library: their flags parsed, checked and defaulted by the
// commands' own code, turned into the maker's request for a scene, and run as the commands run
// them. The commands run through this, and so does the Python package.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "maker/ldi_maker.h"
#include "maker/ray_caster.h"
#include "maker/scene.h"
#include "maker/trace_image.h"
#include "render/camera_file.h"

namespace strata::tools {

struct MakeArguments;
struct TraceArguments;

// A scene read for ray casting ("demo" or a mesh file), with its caster and the seconds both
// took (stored in the headers of what is made from it).
struct LoadedScene {
    std::string name;
    maker::Scene scene;
    std::unique_ptr<maker::RayCaster> caster;
    double loadSeconds = 0.0;
};

// Reads the scene and builds its caster. False with the commands' message.
bool loadScene(const std::string& name, LoadedScene& loaded, std::string& error);

class MakeJob {
  public:
    MakeJob();
    explicit MakeJob(const MakeArguments& args);
    ~MakeJob();
    MakeJob(MakeJob&&) noexcept;
    MakeJob& operator=(MakeJob&&) noexcept;

    // Parses the arguments that follow `strata make` (the scene, -o and the flags) with the
    // command's option table, then check(). False with the line the command prints (without its
    // "strata make: " prefix).
    bool parse(const std::vector<std::string>& arguments, std::string& error);
    // The checks of the flags that need no scene. 0, or the exit status with the message.
    int check(std::string& error);
    // Every long flag name the command takes.
    static std::vector<std::string> flagNames();

    const std::string& sceneName() const;
    const std::string& output() const;
    // True with --kind; else every kind is made into the output folder.
    bool kindGiven() const;
    // The file the kind is written to: the output, or within it when it names a folder (made
    // here) the file named after the scene.
    std::string kindOutput() const;

    // The kind, sizes and threads of the maker's request (what needs no scene).
    void sizes(maker::MakeRequest& request) const;
    // The maker's request for the scene: the kind and sizes, the shading and camera flags over
    // the scene's defaults, the threads. False with a message.
    bool request(const maker::Scene& scene, maker::MakeRequest& request, std::string& error) const;
    // Writes what the command writes for the request. False with a message.
    bool make(const maker::RayCaster& caster, const maker::MakeRequest& request,
              std::vector<maker::MadeFile>& made, std::string& error) const;

  private:
    std::unique_ptr<MakeArguments> args_;
    maker::MakerKind kind_ = maker::MakerKind::rtQp;
};

class TraceJob {
  public:
    TraceJob();
    explicit TraceJob(const TraceArguments& args);
    ~TraceJob();
    TraceJob(TraceJob&&) noexcept;
    TraceJob& operator=(TraceJob&&) noexcept;

    // Parses the arguments that follow `strata trace`, then check(). False with the command's
    // line (without its "strata trace: " prefix).
    bool parse(const std::vector<std::string>& arguments, std::string& error);
    // The checks of the flags that need no scene (size, background). False with the message.
    bool check(std::string& error);
    // Every long flag name the command takes.
    static std::vector<std::string> flagNames();

    const std::string& sceneName() const;
    // True for --orbit or --path.
    bool sequence() const;

    // The picture's options and camera for the scene: the record (taken as --camera of a file
    // holding it) or the --camera file or the scene's default camera, the flags over it. False
    // with a message.
    bool prepare(const maker::Scene& scene, const render::CameraRecord* record,
                 maker::TraceOptions& options, maker::PinholeCamera& camera,
                 std::string& error) const;

  private:
    std::unique_ptr<TraceArguments> args_;
    maker::TraceOptions checked_;
};

}  // namespace strata::tools
