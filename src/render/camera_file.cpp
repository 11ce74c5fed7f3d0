#include "render/camera_file.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "platform/file_io.h"

namespace strata::render {
namespace {

using nlohmann::json;

// Camera files are a few hundred bytes; a list of thousands of records stays far below this.
constexpr std::uint64_t kMaxCameraFileBytes = std::uint64_t{16} << 20;

std::string number(float v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(v));
    return text;
}

std::string vector(const geometry::Vector3& v) {
    return "[" + number(v.x) + ", " + number(v.y) + ", " + number(v.z) + "]";
}

// A JSON number as a finite float: numbers beyond the float range count as non-finite.
bool finiteFloat(const json& number, float& value) {
    const double v = number.get<double>();
    if (!std::isfinite(v) || std::fabs(v) > static_cast<double>(FLT_MAX)) {
        return false;
    }
    value = static_cast<float>(v);
    return true;
}

// One field as a finite float; the message names the field.
bool readNumber(const json& object, const char* name, float& value, std::string& error) {
    const auto it = object.find(name);
    if (it == object.end()) {
        error = std::string("field \"") + name + "\" is missing";
        return false;
    }
    if (!it->is_number()) {
        error = std::string("field \"") + name + "\" is not a number";
        return false;
    }
    if (!finiteFloat(*it, value)) {
        error = std::string("field \"") + name + "\" is not a finite number";
        return false;
    }
    return true;
}

bool readVector(const json& object, const char* name, geometry::Vector3& value,
                std::string& error) {
    const auto it = object.find(name);
    if (it == object.end()) {
        error = std::string("field \"") + name + "\" is missing";
        return false;
    }
    if (!it->is_array() || it->size() != 3) {
        error = std::string("field \"") + name + "\" wants three numbers [x, y, z]";
        return false;
    }
    float parts[3];
    for (std::size_t i = 0; i < 3; ++i) {
        const json& part = (*it)[i];
        if (!part.is_number()) {
            error = std::string("field \"") + name + "\" wants three numbers [x, y, z]";
            return false;
        }
        if (!finiteFloat(part, parts[i])) {
            error = std::string("field \"") + name + "\" is not a finite number";
            return false;
        }
    }
    value = {parts[0], parts[1], parts[2]};
    return true;
}

bool readSide(const json& object, const char* name, std::int32_t& value, std::string& error) {
    const auto it = object.find(name);
    if (it == object.end()) {
        error = std::string("field \"") + name + "\" is missing";
        return false;
    }
    if (!it->is_number_integer() || it->get<std::int64_t>() < 1 ||
        it->get<std::int64_t>() > kMaxRecordSide) {
        error = std::string("field \"") + name + "\" wants a whole number 1.." +
                std::to_string(kMaxRecordSide);
        return false;
    }
    value = static_cast<std::int32_t>(it->get<std::int64_t>());
    return true;
}

bool readRecord(const json& object, CameraRecord& camera, std::string& error) {
    if (!object.is_object()) {
        error = "a camera record is a JSON object";
        return false;
    }
    CameraRecord c;
    if (!readVector(object, "position", c.position, error) ||
        !readVector(object, "direction", c.direction, error) ||
        !readVector(object, "up", c.up, error) ||
        !readNumber(object, "fovDegrees", c.fovDegrees, error) ||
        !readNumber(object, "near", c.near, error) || !readNumber(object, "far", c.far, error) ||
        !readSide(object, "width", c.width, error) ||
        !readSide(object, "height", c.height, error)) {
        return false;
    }
    if (!(c.fovDegrees >= kMinFovDegrees && c.fovDegrees <= 179.0f)) {
        error = "field \"fovDegrees\" wants degrees in [0.01, 179]";
        return false;
    }
    if (std::fabs(c.position.x) > geometry::kMaxCameraCoordinate ||
        std::fabs(c.position.y) > geometry::kMaxCameraCoordinate ||
        std::fabs(c.position.z) > geometry::kMaxCameraCoordinate) {
        error = "field \"position\" lies beyond 1e12 of the origin";
        return false;
    }
    if (!(c.near > 0.0f)) {
        error = "field \"near\" wants a positive distance";
        return false;
    }
    if (!(c.far > c.near)) {
        error = "field \"far\" wants a distance beyond near";
        return false;
    }
    const float length = c.direction.length();
    if (!(length > 0.0f) || !std::isfinite(length)) {
        error = "field \"direction\" is zero";
        return false;
    }
    const float sideLength = geometry::cross(c.direction * (1.0f / length), c.up).length();
    if (!(sideLength > 1e-6f * c.up.length()) || !std::isfinite(sideLength)) {
        error = "field \"up\" is zero or parallel to the direction";
        return false;
    }
    camera = c;
    return true;
}

// The key of the last "key": before byte `end` of text, or "".
std::string fieldBefore(const std::string& text, std::size_t end) {
    std::size_t colon = text.rfind(':', end > 0 ? end - 1 : 0);
    while (colon != std::string::npos && colon > 0) {
        const std::size_t close = text.find_last_not_of(" \t\r\n", colon - 1);
        if (close != std::string::npos && text[close] == '"' && close > 0) {
            const std::size_t open = text.rfind('"', close - 1);
            if (open != std::string::npos) {
                return text.substr(open + 1, close - open - 1);
            }
        }
        colon = colon > 0 ? text.rfind(':', colon - 1) : std::string::npos;
    }
    return "";
}

// JSON has no infinities or NaN: a hand-edited 1e999, inf or NaN is a parse error. When the text
// at the error looks like such a number, the message names the field it belongs to.
bool parse(const std::string& text, const std::string& where, json& value, std::string& error) {
    try {
        value = json::parse(text);
        return true;
    } catch (const json::parse_error& e) {
        const std::size_t at = std::min<std::size_t>(e.byte, text.size());
        const std::size_t start = text.find_last_of(":[,", at > 0 ? at - 1 : 0);
        std::string token =
            start == std::string::npos ? "" : text.substr(start + 1, at - start - 1);
        token.erase(0, token.find_first_not_of(" \t\r\n"));
        const std::string field = fieldBefore(text, at);
        if (!token.empty() && !field.empty() &&
            token.find_first_not_of("0123456789+-.eEnNaAiIfFtTyY") == std::string::npos &&
            token.find_first_of("0123456789nNiI") != std::string::npos) {
            error = where + ": field \"" + field + "\" is not a finite number";
        } else {
            error = where + ": not valid JSON (byte " + std::to_string(e.byte) + ")";
        }
        return false;
    } catch (const json::out_of_range& e) {
        // A number beyond the double range: "... parsing '1e999'".
        const std::string what = e.what();
        const std::size_t open = what.rfind('\'', what.size() - 2);
        const std::string token =
            open == std::string::npos ? "" : what.substr(open + 1, what.size() - open - 2);
        const std::size_t at = token.empty() ? std::string::npos : text.find(token);
        const std::string field = at == std::string::npos ? "" : fieldBefore(text, at);
        error = where + ": " +
                (field.empty() ? std::string("a number is out of range")
                               : "field \"" + field + "\" is not a finite number");
        return false;
    }
}

bool readText(const std::string& path, std::string& text, std::string& error) {
    std::vector<std::uint8_t> bytes;
    if (!platform::readWholeFile(path, bytes, error, kMaxCameraFileBytes)) {
        error = path + ": " + error;
        return false;
    }
    text.assign(bytes.begin(), bytes.end());
    return true;
}

}  // namespace

std::string cameraToJson(const CameraRecord& c) {
    return "{\n  \"position\": " + vector(c.position) +
           ",\n  \"direction\": " + vector(c.direction) + ",\n  \"up\": " + vector(c.up) +
           ",\n  \"fovDegrees\": " + number(c.fovDegrees) + ",\n  \"near\": " + number(c.near) +
           ",\n  \"far\": " + number(c.far) + ",\n  \"width\": " + std::to_string(c.width) +
           ",\n  \"height\": " + std::to_string(c.height) + "\n}\n";
}

bool cameraFromJson(const std::string& text, const std::string& where, CameraRecord& camera,
                    std::string& error) {
    json value;
    if (!parse(text, where, value, error)) {
        return false;
    }
    if (!readRecord(value, camera, error)) {
        error = where + ": " + error;
        return false;
    }
    return true;
}

bool cameraListFromJson(const std::string& text, const std::string& where,
                        std::vector<CameraRecord>& cameras, std::string& error) {
    json value;
    if (!parse(text, where, value, error)) {
        return false;
    }
    if (!value.is_array() || value.empty()) {
        error = where + ": a camera path is a JSON array of one or more camera records";
        return false;
    }
    std::vector<CameraRecord> list(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (!readRecord(value[i], list[i], error)) {
            error = where + ": camera " + std::to_string(i) + ": " + error;
            return false;
        }
    }
    cameras = std::move(list);
    return true;
}

bool saveCameraFile(const std::string& path, const CameraRecord& camera, std::string& error) {
    const std::string text = cameraToJson(camera);
    platform::AtomicFileWriter writer(path);
    if (!writer.isOpen() || !writer.write(text.data(), text.size()) || !writer.commit()) {
        error = path + ": " + writer.error();
        return false;
    }
    return true;
}

bool loadCameraFile(const std::string& path, CameraRecord& camera, std::string& error) {
    std::string text;
    return readText(path, text, error) && cameraFromJson(text, path, camera, error);
}

bool loadCameraListFile(const std::string& path, std::vector<CameraRecord>& cameras,
                        std::string& error) {
    std::string text;
    return readText(path, text, error) && cameraListFromJson(text, path, cameras, error);
}

}  // namespace strata::render
