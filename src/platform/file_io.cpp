#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>

namespace strata::platform {

std::optional<std::uint64_t> fileSize(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(info.st_size);
}

namespace {

const char* kindOf(mode_t mode) {
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "a device";
    }
    return "not a regular file";
}

}  // namespace

int openRegularFile(const std::string& path, std::string& error, int extraFlags) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | extraFlags);
    if (fd < 0) {
        error = "cannot open: " + std::string(std::strerror(errno));
        return -1;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        error = "not a regular file";
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        error = "cannot open: " + std::string(std::strerror(errno));
        return -1;
    }
    return fd;
}

std::FILE* openRegularStream(const std::string& path, std::string& error) {
    const int fd = openRegularFile(path, error);
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* stream = ::fdopen(fd, "rb");
    if (stream == nullptr) {
        error = "cannot open: " + std::string(std::strerror(errno));
        ::close(fd);
    }
    return stream;
}

bool checkRegularFile(const std::string& path, std::string& error) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        error = "cannot open: " + std::string(std::strerror(errno));
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = "not a regular file";
        return false;
    }
    return true;
}

bool checkSaveTarget(const std::string& path, std::string& error) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode)) {
        return true;
    }
    error = path + " is " + kindOf(info.st_mode) + ", not a file: not replaced";
    return false;
}

// ---- Temporaries removed on SIGINT and SIGTERM ----------------------------------------------

namespace {

constexpr int kTemporarySlots = 1024;
enum SlotState : int { kSlotFree = 0, kSlotFilling = 1, kSlotLive = 2 };

// Fixed storage: the handler may only read plain memory and call unlink.
std::array<std::atomic<int>, kTemporarySlots> gSlotState{};
char gSlotPath[kTemporarySlots][PATH_MAX];
std::once_flag gHandlerOnce;

extern "C" void removeTemporariesAndStop(int signalNumber) {
    for (int i = 0; i < kTemporarySlots; ++i) {
        if (gSlotState[static_cast<std::size_t>(i)].load() == kSlotLive) {
            ::unlink(gSlotPath[i]);
        }
    }
    // SA_RESETHAND restored the default action: the re-raised signal ends the process once
    // this handler returns.
    ::raise(signalNumber);
}

void installHandlers() {
    for (int signalNumber : {SIGINT, SIGTERM}) {
        struct sigaction current {};
        if (::sigaction(signalNumber, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) {
            continue;  // ignored or handled by someone else: leave it
        }
        struct sigaction action {};
        action.sa_handler = removeTemporariesAndStop;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND;
        ::sigaction(signalNumber, &action, nullptr);
    }
}

}  // namespace

int registerTemporary(const std::string& path) {
    if (path.size() >= PATH_MAX) {
        return -1;
    }
    std::call_once(gHandlerOnce, installHandlers);
    for (int i = 0; i < kTemporarySlots; ++i) {
        int expected = kSlotFree;
        if (gSlotState[static_cast<std::size_t>(i)].compare_exchange_strong(expected,
                                                                            kSlotFilling)) {
            std::memcpy(gSlotPath[i], path.c_str(), path.size() + 1);
            gSlotState[static_cast<std::size_t>(i)].store(kSlotLive);
            return i;
        }
    }
    return -1;
}

namespace {

// Creates a unique file from pattern ("...XXXXXX", the Xs replaced) that is registered before
// it exists, so a signal arriving on any thread can never leave it behind unregistered. Returns
// the open descriptor (-1 on failure, errno kept) and the slot.
int createRegisteredTemporary(std::string& pattern, int& slot) {
    static constexpr char kLetters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937_64 random{std::random_device{}()};
    const std::size_t stem = pattern.size() - 6;
    for (int attempt = 0; attempt < 100; ++attempt) {
        for (std::size_t i = stem; i < pattern.size(); ++i) {
            pattern[i] = kLetters[random() % (sizeof(kLetters) - 1)];
        }
        slot = registerTemporary(pattern);
        const int fd = ::open(pattern.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            return fd;
        }
        const int saved = errno;
        unregisterTemporary(slot);
        slot = -1;
        errno = saved;
        if (saved != EEXIST) {
            return -1;
        }
    }
    return -1;
}

}  // namespace

void unregisterTemporary(int slot) {
    if (slot >= 0 && slot < kTemporarySlots) {
        gSlotState[static_cast<std::size_t>(slot)].store(kSlotFree);
    }
}

bool readWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error,
                   std::uint64_t maxBytes) {
    std::FILE* file = openRegularStream(path, error);
    if (file == nullptr) {
        return false;
    }
    const auto size = fileSize(path);
    if (!size) {
        std::fclose(file);
        error = "not a regular file";
        return false;
    }
    if (*size > maxBytes) {
        std::fclose(file);
        error = "file too large";
        return false;
    }
    bytes.assign(static_cast<std::size_t>(*size), 0);
    const std::size_t got = bytes.empty() ? 0 : std::fread(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    if (got != bytes.size()) {
        bytes.clear();
        error = "read error";
        return false;
    }
    return true;
}

std::string fileExtension(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return {};
    }
    std::string extension = path.substr(dot + 1);
    for (char& c : extension) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return extension;
}

bool hasExtension(const std::string& path, std::string_view lowerCaseExtension) {
    return fileExtension(path) == lowerCaseExtension;
}

std::string directoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return {};
    }
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string joinPath(const std::string& directory, const std::string& name) {
    if (directory.empty() || (!name.empty() && name.front() == '/')) {
        return name;
    }
    if (directory.back() == '/') {
        return directory + name;
    }
    return directory + "/" + name;
}

AtomicFileWriter::AtomicFileWriter(std::string targetPath) : target_(std::move(targetPath)) {
    std::string refusal;
    if (!checkSaveTarget(target_, refusal)) {
        fail(refusal);
        return;
    }
    std::string pattern = target_ + ".tmpXXXXXX";
    const int fd = createRegisteredTemporary(pattern, tempSlot_);
    if (fd < 0) {
        fail("cannot create " + pattern + ": " + std::strerror(errno));
        return;
    }
    temp_ = pattern;
    // Keep the permissions an ordinary create would give (mkstemp uses 0600).
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    stream_ = ::fdopen(fd, "wb");
    if (stream_ == nullptr) {
        ::close(fd);
        fail("cannot open " + temp_);
    }
}

AtomicFileWriter::~AtomicFileWriter() {
    if (stream_ != nullptr) {
        std::fclose(stream_);
    }
    if (!committed_ && !temp_.empty()) {
        ::unlink(temp_.c_str());
    }
    unregisterTemporary(tempSlot_);
}

void AtomicFileWriter::fail(const std::string& what) {
    if (!failed_) {
        error_ = what;
    }
    failed_ = true;
}

bool AtomicFileWriter::write(const void* data, std::size_t size) {
    if (stream_ == nullptr || failed_) {
        failed_ = true;
        return false;
    }
    if (size != 0 && std::fwrite(data, 1, size, stream_) != size) {
        fail("write error: " + std::string(std::strerror(errno)));
        return false;
    }
    return true;
}

bool AtomicFileWriter::commit() {
    if (stream_ == nullptr) {
        fail("not open");
        return false;
    }
    if (std::ferror(stream_) != 0) {
        fail("write error");
    }
    if (std::fflush(stream_) != 0) {
        fail("flush error: " + std::string(std::strerror(errno)));
    }
    const int closed = std::fclose(stream_);
    stream_ = nullptr;
    if (closed != 0) {
        fail("close error");
    }
    if (failed_) {
        return false;
    }
    // The target may have been replaced by something else since the writer opened.
    std::string refusal;
    if (!checkSaveTarget(target_, refusal)) {
        fail(refusal);
        return false;
    }
    if (::rename(temp_.c_str(), target_.c_str()) != 0) {
        fail("cannot rename into place: " + std::string(std::strerror(errno)));
        return false;
    }
    committed_ = true;
    unregisterTemporary(tempSlot_);
    tempSlot_ = -1;
    return true;
}

// ---- FileSetTransaction ------------------------------------------------------------------------

FileSetTransaction::~FileSetTransaction() {
    if (!done_) {
        abort();
    }
}

std::string FileSetTransaction::stage(const std::string& target) {
    if (done_) {
        error_ = target + ": the set was already saved or abandoned";
        return {};
    }
    for (const Member& member : members_) {
        if (member.target == target) {
            error_ = target + ": named twice in one set";
            return {};
        }
    }
    if (!checkSaveTarget(target, error_)) {
        return {};
    }
    std::string pattern = target + ".tmpXXXXXX";
    int slot = -1;
    const int fd = createRegisteredTemporary(pattern, slot);
    if (fd < 0) {
        error_ = "cannot create " + pattern + ": " + std::strerror(errno);
        return {};
    }
    ::close(fd);
    members_.push_back({target, pattern, slot});
    return pattern;
}

void FileSetTransaction::abort() {
    for (Member& member : members_) {
        ::unlink(member.temp.c_str());
        unregisterTemporary(member.slot);
    }
    members_.clear();
    done_ = true;
}

bool FileSetTransaction::commit() {
    if (done_) {
        error_ = "the set was already saved or abandoned";
        return false;
    }
    // Hard links keep every old member reachable until all the renames have succeeded.
    struct Backup {
        std::string target;
        std::string saved;  // "" when the target did not exist (remove it on rollback)
    };
    std::vector<Backup> replaced;
    const auto dropBackups = [&replaced]() {
        for (const Backup& b : replaced) {
            if (!b.saved.empty()) {
                ::unlink(b.saved.c_str());
            }
        }
    };
    for (const Member& member : members_) {
        std::string problem;
        if (!checkSaveTarget(member.target, problem)) {
            error_ = problem;
        } else {
            Backup backup{member.target, {}};
            if (fileSize(member.target)) {
                std::string pattern = member.target + ".oldXXXXXX";
                const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
                if (fd >= 0) {
                    ::close(fd);
                    ::unlink(pattern.c_str());
                    if (::link(member.target.c_str(), pattern.c_str()) == 0) {
                        backup.saved = pattern;
                    }
                }
            }
            if (::rename(member.temp.c_str(), member.target.c_str()) == 0) {
                replaced.push_back(backup);
                continue;
            }
            error_ = member.target + ": cannot rename into place: " + std::strerror(errno);
            if (!backup.saved.empty()) {
                ::unlink(backup.saved.c_str());
            }
        }
        // Roll back: the old members return, the new ones go.
        for (auto it = replaced.rbegin(); it != replaced.rend(); ++it) {
            if (it->saved.empty()) {
                ::unlink(it->target.c_str());
            } else {
                ::rename(it->saved.c_str(), it->target.c_str());
                it->saved.clear();
            }
        }
        abort();
        return false;
    }
    dropBackups();
    for (Member& member : members_) {
        unregisterTemporary(member.slot);
    }
    members_.clear();
    done_ = true;
    return true;
}

}  // namespace strata::platform
