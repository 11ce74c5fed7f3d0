// The files a mesh file names (OBJ materials, glTF buffers and images, textures) are opened as the
// mesh file itself is: without waiting on a FIFO or device, regular files only, no larger than
// kMaxMeshFileBytes, and only inside the mesh file's folder unless outside paths are allowed
// (platform::FolderFence). Material files are read whole and checked before the importer sees
// them. The importer reads every file through SideFileSystem; the notes say
// which names were refused and why, one line each.
#pragma once

#include <assimp/IOSystem.hpp>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/folder_fence.h"

namespace strata::maker {

// Largest material file (.mtl) read.
inline constexpr std::uint64_t kMaxMaterialFileBytes = std::uint64_t{64} << 20;

// "" when the importer may read these material file (.mtl) contents, else the problem: a
// property line before the first "newmtl" (the importer would set it on no material).
std::string materialFileProblem(std::span<const std::uint8_t> bytes);

class SideFileSystem : public Assimp::IOSystem {
  public:
    // Files named by the mesh file at meshPath.
    explicit SideFileSystem(const std::string& meshPath);

    bool Exists(const char* file) const override;
    char getOsSeparator() const override { return '/'; }
    Assimp::IOStream* Open(const char* file, const char* mode = "rb") override;
    void Close(Assimp::IOStream* file) override;
    bool CreateDirectory(const std::string& path) override;
    bool ChangeDirectory(const std::string& path) override;
    bool DeleteFile(const std::string& file) override;

    // One line per refused name, in the order they were first refused.
    const std::vector<std::string>& notes() const { return notes_; }

  private:
    // "" when file may be read, else why not.
    std::string refusal(const std::string& file) const;
    void note(const std::string& file, const std::string& line) const;

    std::string meshPath_;
    platform::FolderFence fence_;
    mutable std::vector<std::string> notes_;
    mutable std::vector<std::string> noted_;  // the resolved files behind notes_
};

// The path a name resolves to when it passes the fence, trying the name as given (relative to
// the mesh file's folder unless absolute) and then its file name alone in that folder. "" when
// neither exists inside the fence; `refusal` then says why when the name leads outside.
std::string findSideFile(const std::string& meshPath, const std::string& name,
                         std::string& refusal);

}  // namespace strata::maker
