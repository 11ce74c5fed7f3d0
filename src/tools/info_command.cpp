// `strata info FILE [--json]`: what an LDI file holds and whether it loads. Prints the kinds by
// name, the grid, the depth-pixel and layer statistics, the bins, the reference camera, the
// generator statistics and a verdict: "valid", or the exact reason the loader refuses the file.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "ldi/ldi_factory.h"
#include "ldi/ldi_rt_quad.h"
#include "platform/debug_output.h"
#include "platform/file_io.h"
#include "tools/commands.h"
#include "tools/viewer_file.h"

namespace strata::tools {

namespace {

using nlohmann::ordered_json;

struct InfoArguments {
    std::string file;
    bool json = false;
};

struct LayerSummary {
    std::int64_t pixels = 0;
    std::int64_t depthPixels = 0;
    int min = 0;
    int max = 0;
    std::int64_t empty = 0;
    double mean() const {
        return pixels == 0 ? 0.0 : static_cast<double>(depthPixels) / static_cast<double>(pixels);
    }
};

void addLayers(const ldi::LdiBase& ldi, LayerSummary& summary) {
    for (std::int32_t row = 0; row < ldi.height(); ++row) {
        for (std::int32_t col = 0; col < ldi.width(); ++col) {
            const int n = ldi.LayerCount(row, col);
            summary.min = summary.pixels == 0 ? n : std::min(summary.min, n);
            summary.max = std::max(summary.max, n);
            summary.empty += n == 0 ? 1 : 0;
            summary.depthPixels += n;
            ++summary.pixels;
        }
    }
}

ordered_json vectorJson(const geometry::Vector3& v) {
    return ordered_json::array({v.x, v.y, v.z});
}

// Everything reported, as one JSON object; the text form prints the same values.
ordered_json describe(const std::string& path, const ldi::LdiHeader& header,
                      const ldi::LdiBase* ldi, const std::string& refusal) {
    ordered_json out;
    out["file"] = path;
    out["ldiType"] = header.ldiType;
    out["ldiTypeName"] = std::string(ldi::ldiTypeName(header.ldiType));
    out["dptType"] = header.dptType;
    out["dptTypeName"] = std::string(ldi::dptTypeName(header.dptType));
    out["width"] = header.width;
    out["height"] = header.height;
    if (ldi != nullptr) {
        LayerSummary layers;
        if (const auto* quad = dynamic_cast<const ldi::LdiRtQuad*>(ldi)) {
            addLayers(*quad->top(), layers);
            addLayers(*quad->bottom(), layers);
            out["halves"] = {{"top",
                              {{"width", quad->top()->width()},
                               {"height", quad->top()->height()},
                               {"depthPixels", quad->top()->DepthPixelCount()}}},
                             {"bottom",
                              {{"width", quad->bottom()->width()},
                               {"height", quad->bottom()->height()},
                               {"depthPixels", quad->bottom()->DepthPixelCount()}}}};
            out["vectors"] = {vectorJson(quad->firstVector), vectorJson(quad->secondVector)};
        } else {
            addLayers(*ldi, layers);
        }
        out["depthPixels"] = ldi->DepthPixelCount();
        out["layersPerPixel"] = {{"min", layers.min},
                                 {"mean", layers.mean()},
                                 {"max", layers.max},
                                 {"emptyPixels", layers.empty}};
    } else {
        out["depthPixels"] = header.pixelCount;
    }
    if (header.dptType == static_cast<int>(ldi::DptType::MRQP)) {
        const auto c = header.mrqpCounts();
        out["mrqpCounts"] = {c[0], c[1], c[2], c[3]};
    }
    ordered_json bins;
    bins["binCount"] = header.binCount;
    bins["binBits"] = header.binBits;
    const std::int32_t used = std::clamp<std::int32_t>(header.binCount, 0, 2048);
    bins["inTables"] = std::min<std::int32_t>(used, 1024);
    if (used > 0) {
        bins["first"] = header.bins[0];
        bins["last"] = header.bins[static_cast<std::size_t>(used)];
    }
    out["bins"] = bins;
    out["view"] = {{"pos", vectorJson(header.view.pos)},
                   {"dir", vectorJson(header.view.dir)},
                   {"up", vectorJson(header.view.up)},
                   {"near", header.view.near},
                   {"far", header.view.far},
                   {"fov", header.view.fov}};
    out["camera"] = {{"pos", vectorJson(header.camera.pos)}, {"dir", vectorJson(header.camera.dir)},
                     {"up", vectorJson(header.camera.up)},   {"fov", header.camera.fov},
                     {"xres", header.camera.xres},           {"yres", header.camera.yres},
                     {"near", header.camera.clip_near},      {"far", header.camera.clip_far}};
    out["bounds"] = {{"min", vectorJson(header.boundsMin)}, {"max", vectorJson(header.boundsMax)}};
    const ldi::LdiStats& s = header.stats;
    out["generator"] = {
        {"rays", s.rays},
        {"hits", s.hits},
        {"hitsOutsideFrustum", s.hitsOutsideFrustum},
        {"samples", s.samples},
        {"samplesBlended", s.samplesBlended},
        {"samplesUniqueDepth", s.samplesUniqueDepth},
        {"samplesUniqueNormal", s.samplesUniqueNormal},
        {"depthPixels", s.depthPixels},
        {"loadTime", std::to_string(s.loadMinutes) + "m" + std::to_string(s.loadSeconds) + "s"},
        {"sampleTime",
         std::to_string(s.sampleMinutes) + "m" + std::to_string(s.sampleSeconds) + "s"},
        {"writeTime", std::to_string(s.writeMinutes) + "m" + std::to_string(s.writeSeconds) + "s"},
        {"depthComplexity",
         {{"min", s.complexityMin},
          {"max", s.complexityMax},
          {"mean", s.complexityMean},
          {"stdDev", s.complexityStdDev}}},
        {"distance", {{"min", s.distanceMin}, {"max", s.distanceMax}}},
        {"z", {{"min", s.zMin}, {"max", s.zMax}}}};
    if (ldi != nullptr && ldi->trailingBytes > 0) {
        out["trailingBytes"] = ldi->trailingBytes;
    }
    out["verdict"] = refusal.empty() ? "valid" : "refused";
    if (!refusal.empty()) {
        out["reason"] = refusal;
    }
    return out;
}

std::string vectorText(const ordered_json& v) {
    return platform::formatString("(%g, %g, %g)", v[0].get<double>(), v[1].get<double>(),
                                  v[2].get<double>());
}

void printText(const ordered_json& d, bool headerKnown) {
    std::printf("file: %s\n", d["file"].get<std::string>().c_str());
    if (!headerKnown) {
        std::printf("verdict: refused: %s\n", d["reason"].get<std::string>().c_str());
        return;
    }
    std::printf("kind: %s / %s (ldiType %d, dptType %d)\n",
                d["ldiTypeName"].get<std::string>().c_str(),
                d["dptTypeName"].get<std::string>().c_str(), d["ldiType"].get<int>(),
                d["dptType"].get<int>());
    std::printf("grid: %d x %d\n", d["width"].get<int>(), d["height"].get<int>());
    std::printf("depth pixels: %lld\n", d["depthPixels"].get<long long>());
    if (d.contains("mrqpCounts")) {
        const auto& c = d["mrqpCounts"];
        std::printf(
            "mrqp counts: %d depth pixels, %d 4x4 colours, %d 2x2 colours, %d full colours\n",
            c[0].get<int>(), c[1].get<int>(), c[2].get<int>(), c[3].get<int>());
    }
    if (d.contains("layersPerPixel")) {
        const auto& l = d["layersPerPixel"];
        std::printf("layers per pixel: min %d, mean %.3f, max %d, empty pixels %lld\n",
                    l["min"].get<int>(), l["mean"].get<double>(), l["max"].get<int>(),
                    l["emptyPixels"].get<long long>());
    }
    if (d.contains("halves")) {
        for (const char* half : {"top", "bottom"}) {
            const auto& h = d["halves"][half];
            std::printf("%s half: %d x %d, %lld depth pixels\n", half, h["width"].get<int>(),
                        h["height"].get<int>(), h["depthPixels"].get<long long>());
        }
        std::printf("vectors: %s %s\n", vectorText(d["vectors"][0]).c_str(),
                    vectorText(d["vectors"][1]).c_str());
    }
    const auto& b = d["bins"];
    std::printf("bins: %d in use (%d in the tables), binBits %d", b["binCount"].get<int>(),
                b["inTables"].get<int>(), b["binBits"].get<int>());
    if (b.contains("first")) {
        std::printf(", from %g to %g", b["first"].get<double>(), b["last"].get<double>());
    }
    std::printf("\n");
    const auto& v = d["view"];
    std::printf("reference camera: pos %s dir %s up %s near %g far %g fov %g\n",
                vectorText(v["pos"]).c_str(), vectorText(v["dir"]).c_str(),
                vectorText(v["up"]).c_str(), v["near"].get<double>(), v["far"].get<double>(),
                v["fov"].get<double>());
    const auto& c = d["camera"];
    std::printf("full camera: pos %s dir %s up %s fov %g, %d x %d, clip %g to %g\n",
                vectorText(c["pos"]).c_str(), vectorText(c["dir"]).c_str(),
                vectorText(c["up"]).c_str(), c["fov"].get<double>(), c["xres"].get<int>(),
                c["yres"].get<int>(), c["near"].get<double>(), c["far"].get<double>());
    std::printf("bounds: %s to %s\n", vectorText(d["bounds"]["min"]).c_str(),
                vectorText(d["bounds"]["max"]).c_str());
    const auto& g = d["generator"];
    std::printf(
        "generator: %d rays, %d hits (%d outside the frustum), %d samples (%d blended, "
        "%d unique depth, %d unique normal), %d depth pixels\n",
        g["rays"].get<int>(), g["hits"].get<int>(), g["hitsOutsideFrustum"].get<int>(),
        g["samples"].get<int>(), g["samplesBlended"].get<int>(), g["samplesUniqueDepth"].get<int>(),
        g["samplesUniqueNormal"].get<int>(), g["depthPixels"].get<int>());
    std::printf(
        "generator times: load %s, sample %s, write %s\n", g["loadTime"].get<std::string>().c_str(),
        g["sampleTime"].get<std::string>().c_str(), g["writeTime"].get<std::string>().c_str());
    const auto& dc = g["depthComplexity"];
    std::printf(
        "depth complexity: min %g, max %g, mean %g, std dev %g; distance %g to %g; "
        "z %g to %g\n",
        dc["min"].get<double>(), dc["max"].get<double>(), dc["mean"].get<double>(),
        dc["stdDev"].get<double>(), g["distance"]["min"].get<double>(),
        g["distance"]["max"].get<double>(), g["z"]["min"].get<double>(),
        g["z"]["max"].get<double>());
    if (d.contains("trailingBytes")) {
        std::printf("trailing bytes: %llu after the body, ignored\n",
                    d["trailingBytes"].get<unsigned long long>());
    }
    if (d["verdict"] == "valid") {
        std::printf("verdict: valid\n");
    } else {
        std::printf("verdict: refused: %s\n", d["reason"].get<std::string>().c_str());
    }
}

// The stored header of a refused file, when it has one, for the report.
std::optional<ldi::LdiHeader> rawHeader(const std::string& path) {
    if (platform::hasExtension(path, "ldiquad")) {
        return std::nullopt;
    }
    std::string openError;
    std::FILE* file = platform::openRegularStream(path, openError);
    if (file == nullptr) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(ldi::LdiHeader::kSize);
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    ldi::LdiHeader header;
    if (got != bytes.size() || !header.deserialize(bytes)) {
        return std::nullopt;
    }
    return header;
}

// One level of a pyramid: its file, distance and whether it loaded.
ordered_json levelJson(const ldi::LdiPyramid& pyramid, std::int32_t i) {
    ordered_json level;
    level["index"] = i;
    level["file"] = pyramid.levelPath(i);
    level["distance"] = pyramid.levelDistance[static_cast<std::size_t>(i)];
    const ldi::LdiBase* ldi = pyramid.levels[static_cast<std::size_t>(i)].get();
    if (ldi != nullptr) {
        level["kind"] = std::string(ldi::ldiTypeName(ldi->header.ldiType)) + " / " +
                        std::string(ldi::dptTypeName(ldi->header.dptType));
        level["width"] = ldi->width();
        level["height"] = ldi->height();
        level["depthPixels"] = ldi->DepthPixelCount();
        level["verdict"] = "valid";
    } else {
        level["verdict"] = "refused";
        level["reason"] = pyramid.levelError(i);
    }
    return level;
}

// The levels of a pyramid; reason receives the first refusal ("" when every level loaded).
ordered_json levelsJson(const ldi::LdiPyramid& pyramid, std::string& reason) {
    ordered_json levels = ordered_json::array();
    for (std::int32_t i = 0; i < pyramid.levelCount; ++i) {
        levels.push_back(levelJson(pyramid, i));
        if (reason.empty() && levels.back()["verdict"] == "refused") {
            reason = pyramid.levelError(i);
        }
    }
    return levels;
}

ordered_json voxelJson(const ldi::VoxelModel& model) {
    const ldi::VoxelFrame& frame = model.current();
    ordered_json out;
    out["lineCount"] = frame.lineCount;
    out["pixelWidth"] = frame.pixelWidth;
    out["resolution"] = frame.width;
    out["samples"] = static_cast<std::int64_t>(frame.samples.size());
    std::int64_t covered = 0;
    int most = 0;
    for (std::int32_t r = 0; r < frame.height; ++r) {
        const std::size_t base =
            static_cast<std::size_t>(r) * (static_cast<std::size_t>(frame.width) + 1);
        for (std::int32_t k = 0; k < frame.width; ++k) {
            const int n = frame.layerOffset[base + static_cast<std::size_t>(k) + 1] -
                          frame.layerOffset[base + static_cast<std::size_t>(k)];
            covered += n > 0 ? 1 : 0;
            most = std::max(most, n);
        }
    }
    out["cellsCovered"] = covered;
    out["maxSamplesPerCell"] = most;
    out["skippedRecords"] = frame.skippedRecords;
    return out;
}

void printLevelsText(const ordered_json& levels, const char* indent) {
    for (const auto& level : levels) {
        if (level["verdict"] == "valid") {
            std::printf("%slevel %d: %s at distance %g: %s %d x %d, %lld depth pixels\n", indent,
                        level["index"].get<int>(), level["file"].get<std::string>().c_str(),
                        level["distance"].get<double>(), level["kind"].get<std::string>().c_str(),
                        level["width"].get<int>(), level["height"].get<int>(),
                        level["depthPixels"].get<long long>());
        } else {
            std::printf("%slevel %d: %s at distance %g: refused: %s\n", indent,
                        level["index"].get<int>(), level["file"].get<std::string>().c_str(),
                        level["distance"].get<double>(),
                        level["reason"].get<std::string>().c_str());
        }
    }
}

// Pyramids, sets and voxel files: the list or file, then every member.
int runViewerFileInfo(const InfoArguments& args, ViewerFileKind kind) {
    ViewerFile file;
    std::string error;
    const bool opened = openViewerFile(args.file, file, error, true);
    ordered_json out;
    out["file"] = args.file;
    std::string reason;
    if (kind == ViewerFileKind::voxel) {
        out["kind"] = "voxel";
        if (file.voxel && file.voxel->loaded()) {
            out.update(voxelJson(*file.voxel));
        }
        reason = opened ? "" : error;
    } else if (kind == ViewerFileKind::pyramid) {
        out["kind"] = "pyramid";
        if (file.pyramid && file.pyramid->openError().empty()) {
            out["list"] = file.pyramid->listPath();
            out["levels"] = levelsJson(*file.pyramid, reason);
            out["lookAtDepth"] = ldi::LookAtDepth(*file.pyramid);
        } else {
            reason = error;
        }
    } else {
        out["kind"] = "set";
        if (file.set && file.set->openError().empty()) {
            ordered_json members = ordered_json::array();
            for (std::int32_t m = 0; m < file.set->memberCount; ++m) {
                const ldi::LdiPyramid& pyramid = *file.set->members[static_cast<std::size_t>(m)];
                ordered_json member;
                member["index"] = m;
                member["file"] = pyramid.listPath();
                member["direction"] =
                    vectorJson(file.set->memberDirection[static_cast<std::size_t>(m)]);
                std::string memberReason = pyramid.openError();
                if (memberReason.empty()) {
                    member["levels"] = levelsJson(pyramid, memberReason);
                }
                member["verdict"] = memberReason.empty() ? "valid" : "refused";
                if (!memberReason.empty()) {
                    member["reason"] = memberReason;
                    if (reason.empty()) {
                        reason = memberReason;
                    }
                }
                members.push_back(member);
            }
            out["members"] = members;
            out["lookAtDepth"] = ldi::LookAtDepth(*file.set);
        } else {
            reason = error;
        }
    }
    // A list whose members all load, with at least one level to draw.
    if (reason.empty() && !opened) {
        reason = error;
    }
    out["verdict"] = reason.empty() ? "valid" : "refused";
    if (!reason.empty()) {
        out["reason"] = reason;
    }
    if (args.json) {
        std::printf("%s\n", out.dump(2).c_str());
    } else {
        std::printf("file: %s\n", args.file.c_str());
        std::printf("kind: %s\n", out["kind"].get<std::string>().c_str());
        if (out.contains("resolution")) {
            std::printf(
                "voxel grid: %d x %d (pixel width %g), %d line records (%lld skipped "
                "outside the grid)\n",
                out["resolution"].get<int>(), out["resolution"].get<int>(),
                out["pixelWidth"].get<double>(), out["lineCount"].get<int>(),
                out["skippedRecords"].get<long long>());
            std::printf("samples: %lld in %lld cells, at most %d in a cell\n",
                        out["samples"].get<long long>(), out["cellsCovered"].get<long long>(),
                        out["maxSamplesPerCell"].get<int>());
        }
        if (out.contains("levels")) {
            printLevelsText(out["levels"], "");
        }
        if (out.contains("members")) {
            for (const auto& member : out["members"]) {
                std::printf("member %d: %s direction %s: %s\n", member["index"].get<int>(),
                            member["file"].get<std::string>().c_str(),
                            vectorText(member["direction"]).c_str(),
                            member["verdict"].get<std::string>().c_str());
                if (member.contains("levels")) {
                    printLevelsText(member["levels"], "  ");
                }
            }
        }
        if (out.contains("lookAtDepth")) {
            std::printf("look-at depth: %g\n", out["lookAtDepth"].get<double>());
        }
        if (reason.empty()) {
            std::printf("verdict: valid\n");
        } else {
            std::printf("verdict: refused: %s\n", reason.c_str());
        }
    }
    std::fflush(stdout);
    return reason.empty() ? 0 : 1;
}

int runInfo(const InfoArguments& args) {
    const ViewerFileKind kind = viewerFileKindOf(args.file);
    if (kind != ViewerFileKind::ldi) {
        return runViewerFileInfo(args, kind);
    }
    std::string error;
    std::unique_ptr<ldi::LdiBase> loaded;
    {
        // The loader's own lines are what the verdict reports; keep them off stderr.
        const platform::DebugSink previous = platform::setDebugSink([](std::string_view) {});
        loaded = ldi::LoadLdi(args.file, &error);
        platform::setDebugSink(previous);
    }
    if (loaded && error.empty()) {
        error.clear();
    }
    std::optional<ldi::LdiHeader> header;
    if (loaded) {
        header = loaded->header;
    } else {
        header = rawHeader(args.file);
        if (error.empty()) {
            error = args.file + ": refused";
        }
    }
    ordered_json description;
    if (header) {
        description = describe(args.file, *header, loaded.get(), loaded ? "" : error);
    } else {
        description = {{"file", args.file}, {"verdict", "refused"}, {"reason", error}};
    }
    if (args.json) {
        std::printf("%s\n", description.dump(2).c_str());
    } else {
        printText(description, header.has_value());
    }
    std::fflush(stdout);
    return loaded ? 0 : 1;
}

}  // namespace

void addInfoCommand(CLI::App& app, int& status) {
    auto args = std::make_shared<InfoArguments>();
    auto* command = app.add_subcommand(
        "info",
        "describe an LDI file, .ldiquad list, pyramid, set or voxel file and say whether it "
        "(and every member) loads");
    command->add_option("file", args->file, "LDI file, .ldiquad, .ldipyr, .ldiset or .vox")
        ->required();
    command->add_flag("--json", args->json, "print one JSON object instead of text");
    command->callback([args, &status] { status = runInfo(*args); });
}

}  // namespace strata::tools
