// The depth maps `strata trace` writes beside its pictures (--depth-out FILE, --depth-scale S)
// and the views file that names each picture with its depth map and camera (--views-out FILE),
// ready for `strata make --views`.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "imageutil/depth_image.h"
#include "render/camera_file.h"

namespace CLI {
class App;
}

namespace strata::tools {

void addDepthOutputOptions(CLI::App& command, std::string& depthOut, std::string& depthScale,
                           std::string& viewsOut);

class DepthOutput {
  public:
    bool wanted() const { return !path_.empty(); }

    // False (error set) when a depth of the image cannot be stored in the file's format.
    bool check(const imageutil::DepthImage& image, std::string& error) const;

    // Writes the depth map of frame `index` of a sequence (named by the pattern), or with index
    // -1 the one file, after checking it as above, and keeps its entry for the views file:
    // the picture it goes with and the camera that saw both.
    bool writeFrame(const imageutil::DepthImage& image, std::int32_t index,
                    const std::string& picture, const render::CameraRecord& camera,
                    std::string& error);

    // Writes the views file, when one was asked for, listing every frame written.
    bool finish(std::string& error) const;

  private:
    friend bool checkDepthOutput(const std::string&, const std::string&, const std::string&, bool,
                                 DepthOutput&, std::string&);
    struct Entry {
        std::string picture;
        std::string depth;
        render::CameraRecord camera;
    };
    std::string path_;  // the file, or the frame pattern of a sequence
    double scale_ = imageutil::kDefaultDepthScale;
    std::string viewsPath_;
    std::vector<Entry> entries_;
};

// Checks the flags as given ("" when not given): --depth-out a .png or .pfm name (a frame
// pattern such as depth/%04d.pfm for a sequence), --depth-scale a positive number and only with
// a PNG depth map, --views-out only with --depth-out. False with one line.
bool checkDepthOutput(const std::string& depthOut, const std::string& depthScale,
                      const std::string& viewsOut, bool sequence, DepthOutput& output,
                      std::string& error);

}  // namespace strata::tools
