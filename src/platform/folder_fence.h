// Which files a file may make the program read. A model or list from the internet names
// textures, buffers, materials and members; by default only those inside the folder of the file
// the user opened (or its subfolders) are read, so a downloaded file cannot make the program read
// the user's other files. Names are resolved as the kernel would resolve them (symbolic links
// followed, ".." folded) before the check, and nothing about a refused outside file is probed or
// told: a refusal reads the same whether it exists or not.
#pragma once

#include <string>

namespace strata::platform {

// Process-wide: side files and members outside the opened file's folder are read too
// (--allow-outside-paths). Off by default.
void setOutsidePathsAllowed(bool allowed);
bool outsidePathsAllowed();

// path made absolute with every symbolic link on it resolved and "." and ".." folded, as far as
// its components exist; below the first component that does not exist the rest is taken as
// written. A link loop (more than 40 links) gives "".
std::string resolvedPath(const std::string& path);

class FolderFence {
  public:
    // A fence that admits every path.
    FolderFence() = default;
    // The folder of openedFile as given (its directory part, resolved), and every folder below
    // it; admits every path when outside paths are allowed.
    static FolderFence around(const std::string& openedFile);

    // True when path resolves inside the fence (always true for an open fence).
    bool admits(const std::string& path) const;
    bool open() const { return root_.empty(); }
    // The resolved folder ("" for an open fence).
    const std::string& root() const { return root_; }

  private:
    std::string root_;
};

// The refusal of a name whose file lies outside the fence: one line that names it and says how
// to lift the rule, and nothing about the file itself.
std::string outsideRefusal(const std::string& name, const FolderFence& fence);

// The fence of the file being opened on this thread: the outermost live scope sets it (a set
// opening its pyramids keeps the set's folder); with no scope, an open fence.
class OpenedFileScope {
  public:
    explicit OpenedFileScope(const std::string& openedFile);
    ~OpenedFileScope();
    OpenedFileScope(const OpenedFileScope&) = delete;
    OpenedFileScope& operator=(const OpenedFileScope&) = delete;

  private:
    bool outermost_ = false;
};
const FolderFence& currentFence();

}  // namespace strata::platform
