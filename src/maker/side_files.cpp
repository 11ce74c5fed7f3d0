#include "maker/side_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <assimp/IOStream.hpp>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "maker/mesh_precheck.h"
#include "platform/file_io.h"
#include "platform/number_parse.h"

namespace strata::maker {
namespace {

// A read-only stream over a file opened by openRegularFile.
class SideFileStream : public Assimp::IOStream {
  public:
    SideFileStream(std::FILE* file, std::uint64_t size) : file_(file), size_(size) {}
    ~SideFileStream() override { std::fclose(file_); }
    SideFileStream(const SideFileStream&) = delete;
    SideFileStream& operator=(const SideFileStream&) = delete;

    size_t Read(void* buffer, size_t size, size_t count) override {
        return size == 0 ? 0 : std::fread(buffer, size, count, file_);
    }
    size_t Write(const void*, size_t, size_t) override { return 0; }
    aiReturn Seek(size_t offset, aiOrigin origin) override {
        const int whence = origin == aiOrigin_CUR   ? SEEK_CUR
                           : origin == aiOrigin_END ? SEEK_END
                                                    : SEEK_SET;
        return ::fseeko(file_, static_cast<off_t>(offset), whence) == 0 ? aiReturn_SUCCESS
                                                                        : aiReturn_FAILURE;
    }
    size_t Tell() const override {
        const off_t at = ::ftello(file_);
        return at < 0 ? 0 : static_cast<size_t>(at);
    }
    size_t FileSize() const override { return static_cast<size_t>(size_); }
    void Flush() override {}

  private:
    std::FILE* file_;
    std::uint64_t size_;
};

// A read-only stream over bytes already read.
class MemoryStream : public Assimp::IOStream {
  public:
    explicit MemoryStream(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}

    size_t Read(void* buffer, size_t size, size_t count) override {
        if (size == 0 || at_ >= bytes_.size()) {
            return 0;
        }
        const size_t whole = std::min(count, (bytes_.size() - at_) / size);
        std::memcpy(buffer, bytes_.data() + at_, whole * size);
        at_ += whole * size;
        return whole;
    }
    size_t Write(const void*, size_t, size_t) override { return 0; }
    aiReturn Seek(size_t offset, aiOrigin origin) override {
        const size_t base = origin == aiOrigin_CUR   ? at_
                            : origin == aiOrigin_END ? bytes_.size()
                                                     : 0;
        if (offset > bytes_.size() - std::min(base, bytes_.size()) && origin != aiOrigin_END) {
            return aiReturn_FAILURE;
        }
        at_ = origin == aiOrigin_END ? bytes_.size() - std::min(offset, bytes_.size())
                                     : base + offset;
        return aiReturn_SUCCESS;
    }
    size_t Tell() const override { return at_; }
    size_t FileSize() const override { return bytes_.size(); }
    void Flush() override {}

  private:
    std::vector<std::uint8_t> bytes_;
    size_t at_ = 0;
};

bool endsWithNoCase(const std::string& name, std::string_view suffix) {
    return name.size() >= suffix.size() &&
           std::equal(
               suffix.begin(), suffix.end(), name.end() - static_cast<long>(suffix.size()),
               [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

bool isRegularFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

SideFileSystem::SideFileSystem(const std::string& meshPath)
    : meshPath_(meshPath), fence_(platform::FolderFence::around(meshPath)) {}

void SideFileSystem::note(const std::string& file, const std::string& line) const {
    // The importer asks for one file under several spellings ("a/b.mtl", "a//b.mtl").
    const std::string key = platform::resolvedPath(file);
    if (std::find(noted_.begin(), noted_.end(), key) == noted_.end()) {
        noted_.push_back(key);
        notes_.push_back(line);
    }
}

std::string SideFileSystem::refusal(const std::string& file) const {
    if (!fence_.admits(file)) {
        return platform::outsideRefusal(file, fence_);
    }
    return {};
}

bool SideFileSystem::Exists(const char* file) const {
    if (file == nullptr) {
        return false;
    }
    // A name outside the fence is not looked at: the importer goes on to open it, and the
    // refusal is noted there.
    if (!refusal(file).empty()) {
        return true;
    }
    struct stat info {};
    if (::stat(file, &info) != 0) {
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        note(file, std::string(file) + ": not a regular file");
        return false;
    }
    return true;
}

Assimp::IOStream* SideFileSystem::Open(const char* file, const char* mode) {
    if (file == nullptr || mode == nullptr ||
        std::string_view(mode).find_first_of("wa+") != std::string_view::npos) {
        return nullptr;  // the importer only reads
    }
    std::string problem = refusal(file);
    if (!problem.empty()) {
        note(file, problem);
        return nullptr;
    }
    std::FILE* stream = platform::openRegularStream(file, problem);
    if (stream == nullptr) {
        // A missing file is the importer's to report (it tries names that need not exist).
        if (errno != ENOENT) {
            note(file, std::string(file) + ": " + problem);
        }
        return nullptr;
    }
    struct stat info {};
    if (::fstat(::fileno(stream), &info) != 0) {
        std::fclose(stream);
        note(file, std::string(file) + ": cannot read");
        return nullptr;
    }
    const auto size = static_cast<std::uint64_t>(info.st_size);
    if (endsWithNoCase(file, ".mtl")) {
        // Material files are small: read whole and checked before the importer sees them.
        std::vector<std::uint8_t> bytes;
        if (size > kMaxMaterialFileBytes) {
            problem = platform::formatByteCount(size) + " is more than the " +
                      platform::formatByteCount(kMaxMaterialFileBytes) + " a material file may be";
        } else {
            bytes.resize(static_cast<std::size_t>(size));
            if (!bytes.empty() &&
                std::fread(bytes.data(), 1, bytes.size(), stream) != bytes.size()) {
                problem = "cannot read";
            } else {
                problem = materialFileProblem(bytes);
            }
        }
        std::fclose(stream);
        if (!problem.empty()) {
            note(file, std::string(file) + ": " + problem);
            return nullptr;
        }
        return new MemoryStream(std::move(bytes));
    }
    // The mesh file itself was sized by the pre-check; files it names are held to the cap.
    if (size > kMaxMeshFileBytes &&
        platform::resolvedPath(file) != platform::resolvedPath(meshPath_)) {
        std::fclose(stream);
        note(file, std::string(file) + ": " + platform::formatByteCount(size) +
                       " is more than the " + platform::formatByteCount(kMaxMeshFileBytes) +
                       " a file a mesh names may be");
        return nullptr;
    }
    return new SideFileStream(stream, size);
}

void SideFileSystem::Close(Assimp::IOStream* file) {
    delete file;
}

bool SideFileSystem::CreateDirectory(const std::string&) {
    return false;
}

bool SideFileSystem::ChangeDirectory(const std::string&) {
    return false;
}

bool SideFileSystem::DeleteFile(const std::string&) {
    return false;
}

std::string materialFileProblem(std::span<const std::uint8_t> bytes) {
    // The importer reads a line by its first character and sets the current material's
    // properties without looking for one: any property before the first "newmtl" would be set
    // on no material.
    std::size_t line = 1;
    bool atStart = true;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = static_cast<char>(bytes[i]);
        if (c == '\n') {
            ++line;
            atStart = true;
            continue;
        }
        if (!atStart) {
            continue;
        }
        atStart = false;
        const std::string_view rest(reinterpret_cast<const char*>(bytes.data()) + i,
                                    std::min<std::size_t>(6, bytes.size() - i));
        if (rest == "newmtl") {
            return {};  // from here on there is a material
        }
        if (std::isalpha(static_cast<unsigned char>(c)) != 0) {
            return "line " + std::to_string(line) +
                   " sets a material property before the first newmtl names a material";
        }
    }
    return {};
}

std::string findSideFile(const std::string& meshPath, const std::string& name,
                         std::string& refusal) {
    std::string relative = name;
    std::replace(relative.begin(), relative.end(), '\\', '/');
    const platform::FolderFence fence = platform::FolderFence::around(meshPath);
    const std::string folder = platform::directoryOf(meshPath);
    const std::string given = platform::joinPath(folder, relative);
    const std::string alone =
        platform::joinPath(folder, std::filesystem::path(relative).filename().string());
    // A candidate outside the fence is not even looked at.
    for (const std::string& candidate : {given, alone}) {
        if (fence.admits(candidate) && isRegularFile(candidate)) {
            return candidate;
        }
    }
    if (!fence.admits(given)) {
        refusal = platform::outsideRefusal(name, fence);
    }
    return {};
}

}  // namespace strata::maker
