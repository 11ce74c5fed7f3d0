// An LDI set: a text list (".ldiset") of pyramids of one scene, each with the reference direction
// it was made for. The frame driver draws the member whose direction best matches the camera and
// then the level of that pyramid that suits the camera's distance.
//
// List format: the member count N, then N entries "<pyramid file> <x> <y> <z>", whitespace-
// separated. A member direction points from the scene toward the member's cameras.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "geometry/vector.h"
#include "ldi/ldi_pyramid.h"

namespace strata::ldi {

class LdiSet {
  public:
    // Largest member count a list may give.
    static constexpr std::int32_t kMaxMembers = 256;

    LdiSet();
    ~LdiSet();
    LdiSet(const LdiSet&) = delete;
    LdiSet& operator=(const LdiSet&) = delete;

    // Empties the set, then OpenSetIn with no directory.
    int OpenSet(const std::string& path);
    // Reads the list at path and opens every member pyramid (names looked up in `directory`
    // first when given, then beside the list as quad lists resolve their halves). A list that
    // does not open prints "Can't open file <path> ." and returns 0; a short or malformed list
    // is refused with one line naming the list and the line, and returns 0. In both cases the
    // set is left empty. A member that does not open stays present as an empty pyramid (its
    // reason in its openError). Returns 1 when the list was read.
    int OpenSetIn(const std::string& directory, const std::string& path);

    // The current member, or none when the set is empty.
    LdiPyramid* CurrentPyramid() const;
    // Makes the member chosen by ChooseMemberByDirection(v, memberDirection) current and
    // returns its index (0 for an empty set).
    std::int32_t SelectMember(const geometry::Vector3& v);

    const std::string& openError() const { return openError_; }

    std::int32_t memberCount = 0;
    std::int32_t currentMember = 0;
    std::vector<geometry::Vector3> memberDirection;  // memberCount entries
    // memberCount entries; the set owns its pyramids (an unopened member is an empty pyramid).
    std::vector<std::unique_ptr<LdiPyramid>> members;
    // When false, failures are kept in openError but not printed (members included).
    bool reportErrors = true;

  private:
    void Clear();
    int Refuse(const std::string& message);

    std::string openError_;
};

// The member for a camera whose vector to the look-at centre is v: the index with the smallest
// dot(v, directions[i]); ties keep the lower index. 0 for an empty list.
std::int32_t ChooseMemberByDirection(const geometry::Vector3& v,
                                     std::span<const geometry::Vector3> directions);

// The look-at depth the view reset takes for a set: LookAtDepth of the first member that has a
// loaded level; 0 when none has.
float LookAtDepth(const LdiSet& set);

// "" when the set's current member has its current level loaded (or the set is empty), else
// "member M of the set did not load: <reason>" or "level N of member M of the set did not load:
// <reason>".
std::string ChosenMemberFailure(const LdiSet& set);

// The frame driver's choice for a set: the member by direction of v = (0, 0, lookAtDepth) - pos
// (always, frozen or not), then, unless frozen, its level by |v|. Returns the level to draw
// (none when the member or its level is empty).
LdiBase* ChooseMemberAndLevel(LdiSet& set, const geometry::Vector3& cameraPos, float lookAtDepth,
                              bool freezeSelection = false);

}  // namespace strata::ldi
