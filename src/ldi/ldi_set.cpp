// Reading set lists and choosing the member by viewing direction.
#include "ldi/ldi_set.h"

#include <cstdio>

#include "ldi/ldi_list.h"
#include "ldi/ldi_list_load.h"
#include "platform/debug_output.h"
#include "platform/file_io.h"
#include "platform/folder_fence.h"

namespace strata::ldi {

LdiSet::LdiSet() = default;
LdiSet::~LdiSet() = default;

void LdiSet::Clear() {
    members.clear();
    memberDirection.clear();
    memberCount = 0;
    currentMember = 0;
}

int LdiSet::Refuse(const std::string& message) {
    Clear();
    openError_ = message;
    if (reportErrors) {
        std::fprintf(stderr, "%s\n", message.c_str());
    }
    return 0;
}

int LdiSet::OpenSet(const std::string& path) {
    Clear();
    return OpenSetIn(std::string(), path);
}

int LdiSet::OpenSetIn(const std::string& directory, const std::string& path) {
    const platform::OpenedFileScope fenceScope(path);
    Clear();
    openError_.clear();
    std::vector<ListToken> tokens;
    std::string error;
    bool opened = false;
    if (!readListTokens(path, tokens, error, opened)) {
        return Refuse(opened ? path + ": " + error
                             : platform::formatString("Can't open file %s .", path.c_str()));
    }
    std::size_t next = 0;
    const auto malformed = [&](const std::string& problem) {
        const int line =
            next < tokens.size() ? tokens[next].line : (tokens.empty() ? 1 : tokens.back().line);
        return Refuse(
            platform::formatString("%s, line %d: %s", path.c_str(), line, problem.c_str()));
    };
    std::int32_t count = 0;
    if (tokens.empty()) {
        return malformed("empty set list (no member count)");
    }
    if (!parseListInt(tokens[0].text, count) || count < 0 || count > kMaxMembers) {
        return malformed(platform::formatString("member count \"%s\" is not a number in 0..%d",
                                                tokens[0].text.substr(0, 64).c_str(), kMaxMembers));
    }
    ++next;
    std::vector<std::string> names;
    std::vector<geometry::Vector3> directions;
    for (std::int32_t i = 0; i < count; ++i) {
        if (next >= tokens.size()) {
            return malformed(platform::formatString(
                "the list ends after %d of its %d members (a file name and three numbers each)", i,
                count));
        }
        if (tokens[next].text.size() > kMaxListNameLength) {
            return malformed("member file name too long");
        }
        names.push_back(tokens[next].text);
        ++next;
        float v[3] = {};
        for (int k = 0; k < 3; ++k) {
            if (next >= tokens.size()) {
                return malformed(
                    platform::formatString("member %d has %d of its 3 direction numbers", i, k));
            }
            if (!parseListFloat(tokens[next].text, v[k])) {
                return malformed(
                    platform::formatString("member %d direction value \"%s\" is not a number", i,
                                           tokens[next].text.substr(0, 64).c_str()));
            }
            ++next;
        }
        directions.push_back({v[0], v[1], v[2]});
    }
    if (next < tokens.size()) {
        return malformed(
            platform::formatString("text after the %d members the list counts (\"%s\")", count,
                                   tokens[next].text.substr(0, 64).c_str()));
    }
    // Every member list is read first, then the levels of all of them are sized against the
    // budget together, and only then loaded (members naming one file share it).
    const platform::FolderFence& fence = platform::currentFence();
    std::vector<std::unique_ptr<LdiPyramid>> pyramids(names.size());
    std::vector<std::string> files;
    for (std::size_t i = 0; i < names.size(); ++i) {
        std::string refusal;
        const std::string inDirectory = platform::joinPath(directory, names[i]);
        const std::string file =
            !directory.empty() && fence.admits(inDirectory) && platform::fileSize(inDirectory)
                ? inDirectory
                : resolveListMember(path, names[i], &refusal);
        pyramids[i] = std::make_unique<LdiPyramid>();
        pyramids[i]->reportErrors = reportErrors;
        if (!refusal.empty()) {
            pyramids[i]->RefuseWhole(path + ", member " + std::to_string(i) + ": " + refusal);
            continue;
        }
        if (pyramids[i]->ReadLevelList(directory, file) != 0) {
            const std::vector<std::string> levelFiles = pyramids[i]->LevelFiles();
            files.insert(files.end(), levelFiles.begin(), levelFiles.end());
        }
    }
    const std::string overBudget = CheckListBudget(files);
    if (!overBudget.empty()) {
        return Refuse(path + ": " + overBudget);
    }
    LdiLoadCache cache;
    for (auto& member : pyramids) {
        member->LoadLevels(cache);
    }
    memberCount = count;
    memberDirection = directions;
    members = std::move(pyramids);
    return 1;
}

LdiPyramid* LdiSet::CurrentPyramid() const {
    if (currentMember < 0 || currentMember >= memberCount ||
        static_cast<std::size_t>(currentMember) >= members.size()) {
        return nullptr;
    }
    return members[static_cast<std::size_t>(currentMember)].get();
}

std::int32_t LdiSet::SelectMember(const geometry::Vector3& v) {
    currentMember = ChooseMemberByDirection(v, memberDirection);
    return currentMember;
}

std::int32_t ChooseMemberByDirection(const geometry::Vector3& v,
                                     std::span<const geometry::Vector3> directions) {
    if (directions.empty()) {
        return 0;
    }
    std::int32_t best = 0;
    float bestDot = geometry::dot(v, directions[0]) + 0.0f;
    for (std::size_t i = 1; i < directions.size(); ++i) {
        const float s = geometry::dot(v, directions[i]) + 0.0f;
        if (s < bestDot) {
            bestDot = s;
            best = static_cast<std::int32_t>(i);
        }
    }
    return best;
}

std::string ChosenMemberFailure(const LdiSet& set) {
    if (set.memberCount <= 0) {
        return {};
    }
    const LdiPyramid* member = set.CurrentPyramid();
    if (member == nullptr || member->levelCount == 0) {
        return platform::formatString(
            "member %d of the set did not load: %s", set.currentMember,
            member != nullptr ? member->openError().c_str() : "no such member");
    }
    const std::string level = ChosenLevelFailure(*member);
    return level.empty() ? level
                         : platform::formatString("%s of member %d of the set did not load: %s",
                                                  level.substr(0, level.find(" of the")).c_str(),
                                                  set.currentMember,
                                                  member->levelError(member->currentLevel).c_str());
}

float LookAtDepth(const LdiSet& set) {
    for (const auto& member : set.members) {
        if (member && member->FirstLoadedLdi() != nullptr) {
            return LookAtDepth(*member);
        }
    }
    return 0.0f;
}

LdiBase* ChooseMemberAndLevel(LdiSet& set, const geometry::Vector3& cameraPos, float lookAtDepth,
                              bool freezeSelection) {
    const geometry::Vector3 v{0.0f - cameraPos.x, 0.0f - cameraPos.y, lookAtDepth - cameraPos.z};
    set.SelectMember(v);
    LdiPyramid* pyramid = set.CurrentPyramid();
    if (pyramid == nullptr) {
        return nullptr;
    }
    return ChooseLevel(*pyramid, cameraPos, lookAtDepth, freezeSelection);
}

}  // namespace strata::ldi
