// Reading pyramid lists, the level choice by distance and the hand-over of render options.
#include "ldi/ldi_pyramid.h"

#include <cmath>
#include <cstdio>

#include "ldi/ldi_factory.h"
#include "ldi/ldi_list.h"
#include "platform/debug_output.h"
#include "platform/file_io.h"

namespace strata::ldi {

namespace {

// One list entry's token at index i, or a refusal naming the line where it was expected.
struct ListCursor {
    const std::vector<ListToken>& tokens;
    std::size_t next = 0;

    bool done() const { return next >= tokens.size(); }
    int line() const {
        if (next < tokens.size()) {
            return tokens[next].line;
        }
        return tokens.empty() ? 1 : tokens.back().line;
    }
};

}  // namespace

std::string PyramidFallbackPath(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const auto dot = path.find('.', nameStart);
    const std::size_t stemEnd = dot == std::string::npos ? path.size() : dot;
    if (stemEnd == nameStart) {
        return {};
    }
    return path.substr(0, stemEnd) + ".ldipyr";
}

LdiPyramid::LdiPyramid() = default;
LdiPyramid::~LdiPyramid() = default;

void LdiPyramid::Clear() {
    levels.clear();
    levelDistance.clear();
    levelErrors_.clear();
    levelPaths_.clear();
    levelCount = 0;
    currentLevel = 0;
}

int LdiPyramid::Refuse(const std::string& message) {
    Clear();
    openError_ = message;
    if (reportErrors) {
        std::fprintf(stderr, "%s\n", message.c_str());
    }
    return 0;
}

int LdiPyramid::OpenPyramid(const std::string& path) {
    return OpenPyramidIn(std::string(), path);
}

int LdiPyramid::OpenPyramidIn(const std::string& directory, const std::string& path) {
    Clear();
    openError_.clear();
    listPath_ = path;
    std::vector<ListToken> tokens;
    std::string error;
    bool opened = false;
    if (!readListTokens(path, tokens, error, opened) && !opened) {
        const std::string fallback = PyramidFallbackPath(path);
        if (fallback.empty() || fallback == path) {
            return Refuse(platform::formatString("Can't open file %s .", path.c_str()));
        }
        listPath_ = fallback;
        error.clear();
        if (!readListTokens(fallback, tokens, error, opened) && !opened) {
            return Refuse(platform::formatString("Can't open file %s (nor %s).", path.c_str(),
                                                 fallback.c_str()));
        }
    }
    const std::string& list = listPath_;
    if (!error.empty()) {
        return Refuse(list + ": " + error);
    }
    ListCursor at{tokens};
    const auto malformed = [&](const std::string& problem) {
        return Refuse(
            platform::formatString("%s, line %d: %s", list.c_str(), at.line(), problem.c_str()));
    };
    std::int32_t count = 0;
    if (at.done()) {
        return malformed("empty pyramid list (no level count)");
    }
    if (!parseListInt(tokens[at.next].text, count) || count < 0 || count > kMaxLevels) {
        return malformed(platform::formatString("level count \"%s\" is not a number in 0..%d",
                                                tokens[at.next].text.substr(0, 64).c_str(),
                                                kMaxLevels));
    }
    ++at.next;
    // Every entry is read and checked before any level is loaded.
    std::vector<std::string> names;
    std::vector<float> distances;
    for (std::int32_t i = 0; i < count; ++i) {
        if (at.done()) {
            return malformed(platform::formatString(
                "the list ends after %d of its %d levels (a file name and a distance each)", i,
                count));
        }
        const std::string& name = tokens[at.next].text;
        if (name.size() > kMaxListNameLength) {
            return malformed("level file name too long");
        }
        ++at.next;
        float distance = 0.0f;
        if (at.done()) {
            return malformed(platform::formatString("level %d has no distance", i));
        }
        if (!parseListFloat(tokens[at.next].text, distance)) {
            return malformed(platform::formatString("level %d distance \"%s\" is not a number", i,
                                                    tokens[at.next].text.substr(0, 64).c_str()));
        }
        ++at.next;
        names.push_back(name);
        distances.push_back(distance);
    }
    if (!at.done()) {
        return malformed(platform::formatString("text after the %d levels the list counts (\"%s\")",
                                                count, tokens[at.next].text.substr(0, 64).c_str()));
    }
    levelDistance = distances;
    levelCount = count;
    levels.resize(static_cast<std::size_t>(count));
    levelErrors_.resize(static_cast<std::size_t>(count));
    levelPaths_.resize(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < names.size(); ++i) {
        std::string file;
        const std::string inDirectory = platform::joinPath(directory, names[i]);
        if (!directory.empty() && platform::fileSize(inDirectory)) {
            file = inDirectory;
        } else {
            file = resolveListMember(list, names[i]);
        }
        levelPaths_[i] = file;
        // Only plain files are read: a name may point anywhere, devices included.
        if (!platform::fileSize(file)) {
            levelErrors_[i] = file + ": no such file (or not a regular file)";
            continue;
        }
        std::string levelProblem;
        levels[i] = LoadLdi(file, &levelProblem);
        if (!levels[i]) {
            levelErrors_[i] = levelProblem.empty() ? file + ": not loaded" : levelProblem;
        }
    }
    return 1;
}

namespace {
const std::string& entryOf(const std::vector<std::string>& entries, std::int32_t index) {
    static const std::string none;
    if (index < 0 || static_cast<std::size_t>(index) >= entries.size()) {
        return none;
    }
    return entries[static_cast<std::size_t>(index)];
}
}  // namespace

const std::string& LdiPyramid::levelError(std::int32_t index) const {
    return entryOf(levelErrors_, index);
}

const std::string& LdiPyramid::levelPath(std::int32_t index) const {
    return entryOf(levelPaths_, index);
}

LdiBase* LdiPyramid::CurrentLdi() const {
    if (currentLevel < 0 || currentLevel >= levelCount ||
        static_cast<std::size_t>(currentLevel) >= levels.size()) {
        return nullptr;
    }
    return levels[static_cast<std::size_t>(currentLevel)].get();
}

LdiBase* LdiPyramid::FirstLoadedLdi() const {
    for (const auto& level : levels) {
        if (level) {
            return level.get();
        }
    }
    return nullptr;
}

std::int32_t LdiPyramid::MakeCurrent(std::int32_t level) {
    if (level == currentLevel) {
        return level;
    }
    LdiBase* from = CurrentLdi();
    LdiBase* to = levels[static_cast<std::size_t>(level)].get();
    // The rendering choices travel with the view; an empty level has none to give or take.
    if (from != nullptr && to != nullptr) {
        to->options = from->options;
    }
    currentLevel = level;
    return level;
}

std::int32_t LdiPyramid::SelectLevel(float distance) {
    if (levelCount <= 0) {
        return 0;
    }
    std::int32_t chosen = 0;
    for (std::int32_t i = levelCount - 1; i >= 1; --i) {
        const float midpoint = (levelDistance[static_cast<std::size_t>(i - 1)] +
                                levelDistance[static_cast<std::size_t>(i)]) /
                               2.0f;
        if (midpoint < distance) {
            chosen = i;
            break;
        }
    }
    return MakeCurrent(chosen);
}

std::int32_t LdiPyramid::SetLevel(std::int32_t index) {
    if (levelCount <= 0) {
        return 0;
    }
    const std::int32_t clamped = index < 0 ? 0 : (index > levelCount - 1 ? levelCount - 1 : index);
    return MakeCurrent(clamped);
}

LdiDrawStats LdiPyramid::Draw(const geometry::Matrix4& warpMatrix,
                              const geometry::Matrix4& viewMatrix,
                              const geometry::ViewCamera& outputCamera, imageutil::RgbImage& frame,
                              IntRange xRange, IntRange yRange) {
    LdiBase* level = CurrentLdi();
    if (level == nullptr) {
        return {};
    }
    return level->Draw(warpMatrix, viewMatrix, outputCamera, frame, nullptr, xRange, yRange);
}

LdiDrawStats LdiPyramid::DrawAll(const geometry::Matrix4& warpMatrix,
                                 const geometry::Matrix4& viewMatrix,
                                 const geometry::ViewCamera& outputCamera,
                                 imageutil::RgbImage& frame) {
    LdiBase* level = CurrentLdi();
    if (level == nullptr) {
        return {};
    }
    return level->DrawAll(warpMatrix, viewMatrix, outputCamera, frame);
}

float LookAtDepth(const LdiPyramid& pyramid) {
    const LdiBase* level = pyramid.CurrentLdi();
    if (level == nullptr) {
        level = pyramid.FirstLoadedLdi();
    }
    if (level == nullptr) {
        return 0.0f;
    }
    return level->header.boundsMax.z - level->header.boundsMin.z;
}

float LookAtDistance(const geometry::Vector3& pos, float lookAtDepth) {
    const geometry::Vector3 v{0.0f - pos.x, 0.0f - pos.y, lookAtDepth - pos.z};
    return v.length();
}

LdiBase* ChooseLevel(LdiPyramid& pyramid, const geometry::Vector3& cameraPos, float lookAtDepth,
                     bool freezeSelection) {
    if (!freezeSelection) {
        pyramid.SelectLevel(LookAtDistance(cameraPos, lookAtDepth));
    }
    return pyramid.CurrentLdi();
}

}  // namespace strata::ldi
