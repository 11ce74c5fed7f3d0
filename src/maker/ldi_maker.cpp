#include "maker/ldi_maker.h"

#include <cmath>
#include <filesystem>
#include <memory>

#include "ldi/ldi_base.h"
#include "ldi/voxel_model.h"
#include "maker/ldi_encoding.h"
#include "maker/voxel_encoding.h"
#include "platform/debug_output.h"
#include "platform/file_io.h"
#include "render/output_view.h"

namespace strata::maker {

namespace {

constexpr float kPi = 3.14159265358979f;

std::string stemOf(const std::string& path, std::string_view extension) {
    const std::string suffix =
        platform::formatString(".%.*s", static_cast<int>(extension.size()), extension.data());
    if (path.size() > suffix.size() && platform::hasExtension(path, extension)) {
        return path.substr(0, path.size() - suffix.size());
    }
    return path;
}

std::string baseName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool sample(const RayCaster& caster, const MakeRequest& request, const PinholeCamera& camera,
            std::int32_t size, bool coverage, const std::string& label, LayeredImage& image,
            std::string& error) {
    SampleOptions options;
    options.width = size;
    options.height = size;
    options.maxLayers = request.layers;
    options.threads = request.threads;
    options.coverage = coverage;
    options.shading = request.shading;
    if (request.progress) {
        const FileProgressCallback progress = request.progress;
        options.progress = [progress, label](double fraction) { progress(label, fraction); };
    }
    if (!sampleLayers(caster, camera, options, image, error)) {
        return false;
    }
    image.stats.loadSeconds = request.loadSeconds;
    return true;
}

MadeFile describe(const std::string& path, std::string_view kindName, const LayeredImage& image) {
    MadeFile made;
    made.path = path;
    made.kindName = std::string(kindName);
    made.width = image.width;
    made.height = image.height;
    made.depthPixels = image.stats.samples;
    made.meanLayers = image.stats.meanLayers;
    made.maxLayers = image.stats.maxLayers;
    made.raysPerSecond = image.stats.seconds > 0.0
                             ? static_cast<double>(image.stats.rays) / image.stats.seconds
                             : 0.0;
    return made;
}

bool save(ldi::LdiBase& ldi, const std::string& path, std::string& error) {
    ldi.reportErrors = false;
    if (ldi.Save(path) == 0) {
        error =
            ldi.loadError().empty() ? path + ": the file could not be written" : ldi.loadError();
        return false;
    }
    return true;
}

// Writes one file of a single-file kind or a quad from sampled lists, to writePath when given
// (a set member's temporary name), else to path.
bool writeKind(const LayeredImage& image, MakerKind kind, const std::string& path,
               std::vector<MadeFile>& made, std::string& error, const std::string& writePath = {}) {
    std::unique_ptr<ldi::LdiBase> ldi;
    if (kind == MakerKind::quad) {
        ldi = encodeQuad(image, error);
    } else {
        ldi = encodeLdi(image, isBlockLayout(kind) ? ldi::LdiType::RTFF : ldi::LdiType::RT,
                        pixelKindOf(kind), error);
    }
    if (!ldi) {
        error = path + ": " + error;
        return false;
    }
    if (!save(*ldi, writePath.empty() ? path : writePath, error)) {
        if (!writePath.empty()) {
            error =
                path + ": " +
                ldi->loadError().substr(std::min(writePath.size() + 2, ldi->loadError().size()));
        }
        return false;
    }
    made.push_back(describe(path, makerKindInfo(kind).name, image));
    return true;
}

// Writes a list of a set to its staged temporary name.
// Writes text to writePath (a staged temporary, or path itself), naming path in any error.
bool writeText(const std::string& path, const std::string& text, std::string& error,
               const std::string& writePath = {}) {
    platform::AtomicFileWriter writer(writePath.empty() ? path : writePath);
    if (!writer.isOpen() || !writer.write(text.data(), text.size()) || !writer.commit()) {
        error = path + ": " + (writer.error().empty() ? "cannot write the file" : writer.error());
        return false;
    }
    return true;
}

bool writeList(platform::FileSetTransaction& set, const std::string& path, const std::string& text,
               std::string& error) {
    const std::string temp = set.stage(path);
    if (temp.empty()) {
        error = set.error();
        return false;
    }
    return writeText(path, text, error, temp);
}

float distanceToCentre(const RayCaster& caster, const PinholeCamera& camera) {
    const float d = (camera.pos - caster.scene().bounds().centre()).length();
    return d > 0.0f ? d : 1.0f;
}

bool writeVoxel(const RayCaster& caster, const MakeRequest& request, const std::string& path,
                std::vector<MadeFile>& made, std::string& error) {
    const VoxelMapping mapping = voxelMappingFor(request.camera, caster.scene().bounds());
    const std::int32_t side = voxelGridSideFor(request.size);
    if (side > ldi::VoxelModel::kMaxSide) {
        error = platform::formatString(
            "%s: a voxel grid of %d cells is over the %d the reader "
            "takes (--size at most %d)",
            path.c_str(), side, ldi::VoxelModel::kMaxSide, (ldi::VoxelModel::kMaxSide - 1) / 2);
        return false;
    }
    LayeredImage image;
    if (!sample(caster, request, mapping.camera, side, false, path, image, error)) {
        return false;
    }
    // A grid row holds at most 32767 samples in the reader: keep the nearest layers of a row's
    // cells when a row would hold more.
    const int perCell = std::max(1, ldi::VoxelModel::kMaxRowSamples / side);
    if (image.stats.maxLayers > perCell) {
        error = platform::formatString(
            "%s: %d layers in a cell would overflow a grid row of %d cells; use --layers %d",
            path.c_str(), image.stats.maxLayers, side, perCell);
        return false;
    }
    const std::vector<std::uint8_t> bytes = encodeVoxelFile(image, mapping);
    if (!writeText(path, std::string(bytes.begin(), bytes.end()), error)) {
        return false;
    }
    MadeFile file = describe(path, makerKindInfo(MakerKind::voxel).name, image);
    made.push_back(file);
    return true;
}

// Pyramids and sets are written as one file set: every level, member and list goes to a
// temporary name staged in `set`, and the caller commits the set once all are written.
bool writePyramid(const RayCaster& caster, const MakeRequest& request, const PinholeCamera& camera,
                  const std::string& path, platform::FileSetTransaction& set,
                  std::vector<MadeFile>& made, std::string& error) {
    const std::string stem = stemOf(path, makerKindInfo(MakerKind::pyramid).extension);
    const std::string directory = platform::directoryOf(path);
    const Bounds sceneBounds = caster.scene().bounds();
    float lookAtDepth = 0.0f;
    std::string list;
    int levels = 0;
    const std::size_t firstLevel = made.size();
    std::int64_t depthPixels = 0;
    std::string entries;
    for (int level = 0; level < std::max(request.pyramidLevels, 1); ++level) {
        const std::int32_t size = request.size >> level;
        if (level > 0 && size < kMinLevelSide) {
            break;
        }
        const std::string levelName =
            platform::formatString("%s_l%d.%s", baseName(stem).c_str(), level,
                                   std::string(makerKindInfo(MakerKind::rtQp).extension).c_str());
        const std::string levelPath = platform::joinPath(directory, levelName);
        const std::string levelTemp = set.stage(levelPath);
        if (levelTemp.empty()) {
            error = set.error();
            return false;
        }
        LayeredImage image;
        if (!sample(caster, request, camera, size, false, levelPath, image, error)) {
            return false;
        }
        if (!writeKind(image, MakerKind::rtQp, levelPath, made, error, levelTemp)) {
            return false;
        }
        made.back().kindName = "level";
        depthPixels += made.back().depthPixels;
        if (level == 0 && !image.stats.sampleBounds.empty()) {
            // The view reset takes its look-at depth from the finest level's box.
            lookAtDepth = image.stats.sampleBounds.max.z - image.stats.sampleBounds.min.z;
        }
        const float distance = pyramidLevelDistance(camera, sceneBounds, size, lookAtDepth);
        entries +=
            platform::formatString("%s %f\n", levelName.c_str(), static_cast<double>(distance));
        ++levels;
    }
    list = platform::formatString("%d\n", levels) + entries;
    if (!writeList(set, path, list, error)) {
        return false;
    }
    // The list's line: the finest level's grid and layers, the depth pixels of every level.
    MadeFile listFile = made[firstLevel];
    listFile.path = path;
    listFile.kindName = std::string(makerKindInfo(MakerKind::pyramid).name);
    listFile.depthPixels = depthPixels;
    made.push_back(listFile);
    return true;
}

bool writeSet(const RayCaster& caster, const MakeRequest& request, const PinholeCamera& camera,
              const std::string& path, platform::FileSetTransaction& set,
              std::vector<MadeFile>& made, std::string& error) {
    const std::string stem = stemOf(path, makerKindInfo(MakerKind::set).extension);
    const std::string directory = platform::directoryOf(path);
    const geometry::Vector3 centre = caster.scene().bounds().centre();
    const float distance = distanceToCentre(caster, camera);
    const int members = std::max(request.setMembers, 1);
    std::string entries;
    const std::size_t firstFile = made.size();
    std::int64_t depthPixels = 0;
    for (int m = 0; m < members; ++m) {
        const float angle = 2.0f * kPi * static_cast<float>(m) / static_cast<float>(members);
        // The member direction points from the scene centre toward the member's camera.
        const geometry::Vector3 toward{std::sin(angle), 0.0f, std::cos(angle)};
        PinholeCamera member = camera;
        member.pos = centre + distance * toward;
        member.dir = -toward;
        member.up = {0.0f, 1.0f, 0.0f};
        std::string problem;
        if (!normalizeCamera(member, problem)) {
            error = path + ": " + problem;
            return false;
        }
        const std::string memberName = platform::formatString(
            "%s_m%d.%s", baseName(stem).c_str(), m,
            std::string(makerKindInfo(MakerKind::pyramid).extension).c_str());
        if (!writePyramid(caster, request, member, platform::joinPath(directory, memberName), set,
                          made, error)) {
            return false;
        }
        made.back().kindName = "member";
        depthPixels += made.back().depthPixels;
        entries += platform::formatString(
            "%s %f %f %f\n", memberName.c_str(), static_cast<double>(toward.x),
            static_cast<double>(toward.y), static_cast<double>(toward.z));
    }
    if (!writeList(set, path, platform::formatString("%d\n", members) + entries, error)) {
        return false;
    }
    MadeFile listFile = made[firstFile];
    listFile.path = path;
    listFile.kindName = std::string(makerKindInfo(MakerKind::set).name);
    listFile.depthPixels = depthPixels;
    made.push_back(listFile);
    return true;
}

// Writes a pyramid or a set as one file set: on any failure no file of it is replaced and the
// files it reported are dropped from `made`.
bool writeListKind(const RayCaster& caster, const MakeRequest& request, MakerKind kind,
                   const std::string& path, std::vector<MadeFile>& made, std::string& error) {
    const std::size_t before = made.size();
    platform::FileSetTransaction set;
    const bool written =
        kind == MakerKind::set
            ? writeSet(caster, request, request.camera, path, set, made, error)
            : writePyramid(caster, request, request.camera, path, set, made, error);
    if (!written || !set.commit()) {
        if (written) {
            error = set.error();
        }
        set.abort();
        made.resize(before);
        return false;
    }
    return true;
}

}  // namespace

std::string summaryLine(const MadeFile& made) {
    return platform::formatString(
        "%s: %s %dx%d, %lld depth pixels, layers mean %.2f max %d, %.0f rays/s", made.path.c_str(),
        made.kindName.c_str(), made.width, made.height, static_cast<long long>(made.depthPixels),
        made.meanLayers, made.maxLayers, made.raysPerSecond);
}

int pyramidLevelsFor(std::int32_t size) {
    int levels = 1;
    while (levels < 31 && (size >> levels) >= kMinLevelSide) {
        ++levels;
    }
    return levels;
}

std::string sizeProblem(MakerKind kind, std::int32_t size) {
    const std::int64_t maxSide = kMaxRowEntries / kMaxColoursPerMrqpPixel;
    if (pixelKindOf(kind) == PixelKind::mrqp && size > maxSide) {
        return platform::formatString(
            "%s cannot store a %dx%d grid: a row may need %lld colours a pixel and holds at most "
            "%lld entries; use --size %lld or less",
            std::string(makerKindInfo(kind).name).c_str(), size, size,
            static_cast<long long>(kMaxColoursPerMrqpPixel), static_cast<long long>(kMaxRowEntries),
            static_cast<long long>(maxSide));
    }
    return {};
}

std::string fileNameFor(MakerKind kind, const std::string& stem) {
    return platform::formatString("%s.%s", stem.c_str(),
                                  std::string(makerKindInfo(kind).extension).c_str());
}

geometry::Vector3 pyramidLevelEye(const PinholeCamera& camera, const Bounds& sceneBounds,
                                  std::int32_t levelSide) {
    const geometry::Vector3 centre = sceneBounds.centre();
    const float along = geometry::dot(centre - camera.pos, camera.dir);
    // One sample at the centre's depth spans 2 along tan(fov / 2) / levelSide; one output pixel
    // at distance e spans 2 e tan(viewer fov / 2) / kViewerFrameSide.
    const float eye = along * std::tan(camera.fov / 2.0f) / std::tan(render::kDefaultFov / 2.0f) *
                      static_cast<float>(kViewerFrameSide) / static_cast<float>(levelSide);
    return centre - camera.dir * eye;
}

float pyramidLevelDistance(const PinholeCamera& camera, const Bounds& sceneBounds,
                           std::int32_t levelSide, float lookAtDepth) {
    const geometry::Vector3 eye = pyramidLevelEye(camera, sceneBounds, levelSide);
    return (eye - geometry::Vector3{0.0f, 0.0f, lookAtDepth}).length();
}

bool makeLdi(const RayCaster& caster, const MakeRequest& request, const std::string& output,
             std::vector<MadeFile>& made, std::string& error) {
    if (request.kind == MakerKind::pyramid || request.kind == MakerKind::set) {
        return writeListKind(caster, request, request.kind, output, made, error);
    }
    if (request.kind == MakerKind::voxel) {
        return writeVoxel(caster, request, output, made, error);
    }
    LayeredImage image;
    if (!sample(caster, request, request.camera, request.size,
                pixelKindOf(request.kind) == PixelKind::mrqp, output, image, error)) {
        return false;
    }
    return writeKind(image, request.kind, output, made, error);
}

bool makeAllKinds(const RayCaster& caster, const MakeRequest& request, const std::string& directory,
                  const std::string& stem, std::vector<MadeFile>& made, std::string& error) {
    std::error_code code;
    std::filesystem::create_directories(directory, code);
    if (code) {
        error = directory + ": cannot create the folder (" + code.message() + ")";
        return false;
    }
    // One sampling with coverage serves every single-file kind and the quad.
    LayeredImage image;
    if (!sample(caster, request, request.camera, request.size, true,
                platform::joinPath(directory, stem), image, error)) {
        return false;
    }
    for (const MakerKindInfo& info : makerKinds()) {
        const std::string path = platform::joinPath(directory, fileNameFor(info.kind, stem));
        bool ok = true;
        if (info.kind == MakerKind::pyramid || info.kind == MakerKind::set) {
            ok = writeListKind(caster, request, info.kind, path, made, error);
        } else if (info.kind == MakerKind::voxel) {
            ok = writeVoxel(caster, request, path, made, error);
        } else {
            ok = writeKind(image, info.kind, path, made, error);
        }
        if (!ok) {
            return false;
        }
    }
    return true;
}

}  // namespace strata::maker
