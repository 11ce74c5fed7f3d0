#include "platform/folder_fence.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <deque>
#include <vector>

#include "platform/file_io.h"

namespace strata::platform {
namespace {

std::atomic<bool> gOutsideAllowed{false};

void splitInto(const std::string& path, std::deque<std::string>& parts, bool atFront) {
    std::vector<std::string> pieces;
    std::size_t from = 0;
    while (from <= path.size()) {
        std::size_t slash = path.find('/', from);
        if (slash == std::string::npos) {
            slash = path.size();
        }
        if (slash > from) {
            pieces.push_back(path.substr(from, slash - from));
        }
        from = slash + 1;
    }
    if (atFront) {
        parts.insert(parts.begin(), pieces.begin(), pieces.end());
    } else {
        parts.insert(parts.end(), pieces.begin(), pieces.end());
    }
}

std::string joined(const std::vector<std::string>& parts) {
    std::string path;
    for (const std::string& part : parts) {
        path += "/" + part;
    }
    return path.empty() ? std::string("/") : path;
}

thread_local FolderFence* tFence = nullptr;

}  // namespace

void setOutsidePathsAllowed(bool allowed) {
    gOutsideAllowed = allowed;
}

bool outsidePathsAllowed() {
    return gOutsideAllowed;
}

std::string resolvedPath(const std::string& path) {
    if (path.empty()) {
        return {};
    }
    std::deque<std::string> todo;
    if (path.front() != '/') {
        char cwd[PATH_MAX];
        if (::getcwd(cwd, sizeof cwd) == nullptr) {
            return {};
        }
        splitInto(cwd, todo, false);
    }
    splitInto(path, todo, false);
    std::vector<std::string> done;
    int links = 0;
    bool missing = false;  // below a missing component nothing more can be a link
    while (!todo.empty()) {
        const std::string part = todo.front();
        todo.pop_front();
        if (part == ".") {
            continue;
        }
        if (part == "..") {
            if (!done.empty()) {
                done.pop_back();
            }
            continue;
        }
        if (!missing) {
            const std::string candidate = joined(done) + (done.empty() ? "" : "/") + part;
            struct stat info {};
            if (::lstat(candidate.c_str(), &info) != 0) {
                missing = true;
            } else if (S_ISLNK(info.st_mode)) {
                if (++links > 40) {
                    return {};
                }
                std::vector<char> target(PATH_MAX + 1);
                const ssize_t length = ::readlink(candidate.c_str(), target.data(), PATH_MAX);
                if (length <= 0) {
                    return {};
                }
                const std::string link(target.data(), static_cast<std::size_t>(length));
                if (link.front() == '/') {
                    done.clear();
                }
                splitInto(link, todo, true);
                continue;
            }
        }
        done.push_back(part);
    }
    return joined(done);
}

FolderFence FolderFence::around(const std::string& openedFile) {
    FolderFence fence;
    if (outsidePathsAllowed()) {
        return fence;
    }
    const std::string folder = directoryOf(openedFile);
    fence.root_ = resolvedPath(folder.empty() ? std::string(".") : folder);
    if (fence.root_.empty()) {
        fence.root_ = "/nonexistent-folder";  // unresolvable: admit nothing rather than all
    }
    return fence;
}

bool FolderFence::admits(const std::string& path) const {
    if (root_.empty()) {
        return true;
    }
    const std::string resolved = resolvedPath(path);
    if (resolved.empty()) {
        return false;
    }
    if (root_ == "/") {
        return true;
    }
    return resolved.size() > root_.size() && resolved.compare(0, root_.size(), root_) == 0 &&
           resolved[root_.size()] == '/';
}

std::string outsideRefusal(const std::string& name, const FolderFence& fence) {
    return "\"" + name + "\" lies outside " + fence.root() +
           ", the folder of the file opened: not read (--allow-outside-paths reads it)";
}

OpenedFileScope::OpenedFileScope(const std::string& openedFile) {
    if (tFence == nullptr) {
        tFence = new FolderFence(FolderFence::around(openedFile));
        outermost_ = true;
    }
}

OpenedFileScope::~OpenedFileScope() {
    if (outermost_) {
        delete tFence;
        tFence = nullptr;
    }
}

const FolderFence& currentFence() {
    static const FolderFence open;
    return tFence != nullptr ? *tFence : open;
}

}  // namespace strata::platform
