#include "maker/views_file.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "imageutil/depth_image.h"
#include "platform/debug_output.h"
#include "platform/file_io.h"
#include "render/camera_file.h"

namespace strata::maker {

namespace {

using nlohmann::json;

// Degrees to radians as the command line's --fov and camera files turn them.
float radiansOf(float degrees) {
    return degrees * 3.14159265f / 180.0f;
}

bool finiteNumber(const json& value, double& number) {
    if (!value.is_number()) {
        return false;
    }
    number = value.get<double>();
    return std::isfinite(number);
}

// The camera of one entry; width and height are the picture's.
bool readCamera(const json& record, const std::string& where, std::int32_t width,
                std::int32_t height, PhotoCamera& camera, std::string& error) {
    if (!record.is_object()) {
        error = where + ": field \"camera\" is not a JSON object";
        return false;
    }
    const auto intrinsics = record.find("intrinsics");
    if (intrinsics == record.end()) {
        render::CameraRecord read;
        if (!render::cameraFromJson(record.dump(), where + ": camera", read, error)) {
            return false;
        }
        PinholeCamera pinhole;
        pinhole.pos = read.position;
        pinhole.dir = read.direction;
        pinhole.up = read.up;
        pinhole.fov = radiansOf(read.fovDegrees);
        if (!normalizeCamera(pinhole, error)) {
            error = where + ": camera: " + error;
            return false;
        }
        camera = photoCameraFromFov(pinhole, width, height);
        return true;
    }
    for (const auto& [key, value] : record.items()) {
        if (key != "intrinsics" && key != "position" && key != "direction" && key != "up") {
            error = where + ": camera: unknown field \"" + key +
                    "\" beside \"intrinsics\" (position, direction, up)";
            return false;
        }
    }
    double k[4] = {0, 0, 0, 0};
    bool ok = intrinsics->is_array() && intrinsics->size() == 4;
    for (std::size_t i = 0; ok && i < 4; ++i) {
        ok = finiteNumber((*intrinsics)[i], k[i]);
    }
    if (!ok || !(k[0] > 0.0 && k[1] > 0.0)) {
        error = where +
                ": camera: field \"intrinsics\" wants four numbers [fx, fy, cx, cy] in pixels, "
                "fx and fy positive";
        return false;
    }
    // The pose fields are read as a camera file reads them, with a stand-in lens.
    json pose = {{"fovDegrees", 45}, {"near", 1}, {"far", 2}, {"width", 1}, {"height", 1}};
    for (const char* name : {"position", "direction", "up"}) {
        if (record.contains(name)) {
            pose[name] = record[name];
        }
    }
    render::CameraRecord read;
    if (!render::cameraFromJson(pose.dump(), where + ": camera", read, error)) {
        return false;
    }
    camera = PhotoCamera{read.position, read.direction, read.up, k[0], k[1], k[2], k[3], 0.0f};
    if (!normalizePhotoCamera(camera, error)) {
        error = where + ": camera: " + error;
        return false;
    }
    return true;
}

bool readEntry(const json& entry, const std::string& folder, const std::string& where,
               double depthScale, RgbdView& view, std::string& error) {
    if (!entry.is_object()) {
        error = where + ": an entry is a JSON object {\"colour\", \"depth\", \"camera\"}";
        return false;
    }
    for (const auto& [key, value] : entry.items()) {
        if (key != "colour" && key != "depth" && key != "camera" && key != "depthScale") {
            error = where + ": unknown field \"" + key + "\" (colour, depth, camera, depthScale)";
            return false;
        }
    }
    std::string names[2];
    const char* fields[2] = {"colour", "depth"};
    for (int i = 0; i < 2; ++i) {
        const auto it = entry.find(fields[i]);
        if (it == entry.end() || !it->is_string() || it->get<std::string>().empty()) {
            error = where + ": field \"" + fields[i] + "\" wants a file name";
            return false;
        }
        names[i] = platform::joinPath(folder, it->get<std::string>());
    }
    if (!entry.contains("camera")) {
        error = where + ": field \"camera\" is missing";
        return false;
    }
    if (const auto scale = entry.find("depthScale"); scale != entry.end()) {
        if (!finiteNumber(*scale, depthScale) || !(depthScale > 0.0)) {
            error = where + ": field \"depthScale\" wants a positive number";
            return false;
        }
    }
    RgbdView read;
    if (!loadRgbdView(names[0], names[1], depthScale, PhotoCamera{}, read, error)) {
        error = where + ": " + error;
        return false;
    }
    if (!readCamera(entry["camera"], where, read.width, read.height, read.camera, error)) {
        return false;
    }
    view = std::move(read);
    return true;
}

}  // namespace

bool loadViewsFile(const std::string& path, double depthScale, std::vector<RgbdView>& views,
                   std::string& error) {
    std::vector<std::uint8_t> bytes;
    std::string problem;
    if (!platform::readWholeFile(path, bytes, problem, kMaxViewsFileBytes)) {
        error = path + ": " + problem;
        return false;
    }
    json list;
    try {
        list = json::parse(bytes.begin(), bytes.end());
    } catch (const json::exception& e) {
        error = path + ": not valid JSON (" + e.what() + ")";
        return false;
    }
    if (!list.is_array() || list.empty() || list.size() > kMaxViews) {
        error = platform::formatString(
            "%s: a views file is a JSON array of 1..%zu entries {\"colour\", \"depth\", "
            "\"camera\"}",
            path.c_str(), kMaxViews);
        return false;
    }
    const std::string folder = platform::directoryOf(path);
    std::vector<RgbdView> read(list.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::string where = platform::formatString("%s: view %zu", path.c_str(), i);
        if (!readEntry(list[i], folder, where, depthScale, read[i], error)) {
            return false;
        }
    }
    views = std::move(read);
    return true;
}

}  // namespace strata::maker
