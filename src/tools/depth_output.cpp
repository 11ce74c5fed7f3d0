#include "tools/depth_output.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "platform/debug_output.h"
#include "platform/file_io.h"
#include "tools/camera_options.h"
#include "tools/sequence.h"

namespace strata::tools {
namespace {

std::string lowerExtension(const std::string& name) {
    std::string ext = std::filesystem::path(name).extension().string();
    for (char& c : ext) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return ext;
}

// The name of `path` as seen from the folder of `listFile`.
std::string relativeTo(const std::string& listFile, const std::string& path) {
    std::error_code code;
    const std::filesystem::path folder =
        std::filesystem::absolute(std::filesystem::path(listFile), code).parent_path();
    const std::filesystem::path target =
        std::filesystem::absolute(std::filesystem::path(path), code);
    const std::filesystem::path relative = target.lexically_proximate(folder);
    return code ? path : relative.generic_string();
}

}  // namespace

void addDepthOutputOptions(CLI::App& command, std::string& depthOut, std::string& depthScale,
                           std::string& viewsOut) {
    command.add_option("--depth-out", depthOut,
                       "also write the depth along the camera axis of each pixel: a 16-bit PNG "
                       "(.png, 0 = no surface) or a float PFM (.pfm, infinity = no surface); a "
                       "frame pattern such as depth/%04d.pfm with --orbit or --path");
    command.add_option("--depth-scale", depthScale,
                       "units of a 16-bit PNG depth per scene unit (default 1000)");
    command.add_option("--views-out", viewsOut,
                       "with --depth-out: write a views file (JSON) naming every picture with its "
                       "depth map and camera, for strata make --views");
}

bool checkDepthOutput(const std::string& depthOut, const std::string& depthScale,
                      const std::string& viewsOut, bool sequence, DepthOutput& output,
                      std::string& error) {
    output = DepthOutput{};
    if (depthOut.empty()) {
        if (!depthScale.empty() || !viewsOut.empty()) {
            error = std::string(!depthScale.empty() ? "--depth-scale" : "--views-out") +
                    " goes with --depth-out";
            return false;
        }
        return true;
    }
    const std::string ext = lowerExtension(depthOut);
    if (ext != ".png" && ext != ".pfm") {
        error = "--depth-out wants a .png (16-bit) or .pfm file name, not \"" + depthOut + "\"";
        return false;
    }
    if (sequence && !isFramePattern(depthOut)) {
        error = "--depth-out wants a pattern with one number such as depth/%04d" + ext +
                " for a sequence, not \"" + depthOut + "\"";
        return false;
    }
    if (!depthScale.empty()) {
        float scale = 0.0f;
        if (!parseFloat(depthScale, scale) || !(scale > 0.0f)) {
            error = "--depth-scale wants a positive number of units per scene unit, not \"" +
                    depthScale + "\"";
            return false;
        }
        if (ext == ".pfm") {
            error =
                "--depth-scale applies to 16-bit PNG depth maps; a PFM file holds the depth "
                "itself";
            return false;
        }
        output.scale_ = scale;
    }
    output.path_ = depthOut;
    output.viewsPath_ = viewsOut;
    return true;
}

bool DepthOutput::check(const imageutil::DepthImage& image, std::string& error) const {
    const std::string problem =
        imageutil::depthImageProblem(image, imageutil::depthFormatOf(path_), scale_);
    if (!problem.empty()) {
        error = path_ + ": " + problem;
        return false;
    }
    return true;
}

bool DepthOutput::writeFrame(const imageutil::DepthImage& image, std::int32_t index,
                             const std::string& picture, const render::CameraRecord& camera,
                             std::string& error) {
    const std::string path = index < 0 ? path_ : frameName(path_, index);
    if (index >= 0) {
        const std::string parent = platform::directoryOf(path);
        std::error_code code;
        if (!parent.empty()) {
            std::filesystem::create_directories(parent, code);
        }
    }
    if (!imageutil::writeDepthImage(path, image, scale_, error)) {
        return false;
    }
    entries_.push_back({picture, path, camera});
    return true;
}

bool DepthOutput::finish(std::string& error) const {
    if (viewsPath_.empty()) {
        return true;
    }
    const bool png = imageutil::depthFormatOf(path_) == imageutil::DepthFormat::png16;
    std::string text = "[\n";
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const Entry& entry = entries_[i];
        std::string camera = render::cameraToJson(entry.camera);
        // Indent the record's lines one level further inside the entry.
        for (std::size_t at = camera.find('\n'); at != std::string::npos && at + 1 < camera.size();
             at = camera.find('\n', at + 1)) {
            camera.insert(at + 1, "    ");
        }
        camera.pop_back();  // the record's closing newline
        text +=
            "  {\n    \"colour\": " + nlohmann::json(relativeTo(viewsPath_, entry.picture)).dump() +
            ",\n    \"depth\": " + nlohmann::json(relativeTo(viewsPath_, entry.depth)).dump() +
            ",\n";
        if (png) {
            text += platform::formatString("    \"depthScale\": %.9g,\n", scale_);
        }
        text += "    \"camera\": " + camera + "\n  }" + (i + 1 < entries_.size() ? ",\n" : "\n");
    }
    text += "]\n";
    platform::AtomicFileWriter writer(viewsPath_);
    if (!writer.isOpen() || !writer.write(text.data(), text.size()) || !writer.commit()) {
        error =
            viewsPath_ + ": " + (writer.error().empty() ? "cannot write the file" : writer.error());
        return false;
    }
    return true;
}

}  // namespace strata::tools
