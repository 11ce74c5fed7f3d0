#include "platform/file_io.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <set>

#include "platform/folder_fence.h"
#include "platform/number_parse.h"

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

// Fixed storage: the handler may only read plain memory and make system calls.
std::array<std::atomic<int>, kTemporarySlots> gSlotState{};
std::array<std::atomic<bool>, kTemporarySlots> gSlotIsFolder{};
char gSlotPath[kTemporarySlots][PATH_MAX];
std::once_flag gHandlerOnce;
// Saves between their first and last rename, and a stop signal that came during one.
std::atomic<int> gCommitsRunning{0};
std::atomic<int> gPendingStop{0};
std::atomic<pid_t> gHelperChild{0};

// Removes every entry of a flat folder and the folder, with system calls only.
void removeFolderNow(const char* path) {
    for (int pass = 0; pass < 64; ++pass) {
        const int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            break;
        }
        alignas(8) char buffer[4096];
        bool removed = false;
        for (;;) {
            const long got = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
            if (got <= 0) {
                break;
            }
            for (long at = 0; at < got;) {
                // struct linux_dirent64: inode (8), offset (8), record length (2), type (1), name
                const char* record = buffer + at;
                unsigned short length = 0;
                std::memcpy(&length, record + 16, sizeof length);
                const char* name = record + 19;
                if (!(name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))) {
                    removed = ::unlinkat(fd, name, 0) == 0 || removed;
                }
                at += length;
            }
        }
        ::close(fd);
        if (!removed) {
            break;
        }
    }
    ::rmdir(path);
}

// Removes every registered temporary, ends a helper program, and ends the process with the
// signal's default action. Only async-signal-safe calls.
void stopNow(int signalNumber) {
    const pid_t child = gHelperChild.load();
    if (child > 0) {
        ::kill(child, SIGTERM);
        ::waitpid(child, nullptr, 0);
    }
    for (int pass = 0; pass < 2; ++pass) {
        // Files first, then the folders they may have been in.
        for (int i = 0; i < kTemporarySlots; ++i) {
            const auto slot = static_cast<std::size_t>(i);
            if (gSlotState[slot].load() != kSlotLive || gSlotIsFolder[slot].load() != (pass == 1)) {
                continue;
            }
            if (pass == 0) {
                ::unlink(gSlotPath[i]);
            } else {
                removeFolderNow(gSlotPath[i]);
            }
        }
    }
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(signalNumber, &fallback, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signalNumber);
    // Inside the handler the signal stays blocked until it returns; elsewhere it ends the
    // process at once.
    ::raise(signalNumber);
    ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
}

extern "C" void removeTemporariesAndStop(int signalNumber) {
    // Noted before the check, so that a save finishing on another thread either sees it or
    // is seen as finished here.
    gPendingStop.store(signalNumber);
    if (gCommitsRunning.load() > 0) {
        return;  // the save completes its renames, then stops the process
    }
    stopNow(signalNumber);
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
        ::sigaction(signalNumber, &action, nullptr);
    }
}

int registerSlot(const std::string& path, bool folder) {
    if (path.size() >= PATH_MAX) {
        return -1;
    }
    std::call_once(gHandlerOnce, installHandlers);
    for (int i = 0; i < kTemporarySlots; ++i) {
        int expected = kSlotFree;
        const auto slot = static_cast<std::size_t>(i);
        if (gSlotState[slot].compare_exchange_strong(expected, kSlotFilling)) {
            std::memcpy(gSlotPath[i], path.c_str(), path.size() + 1);
            gSlotIsFolder[slot].store(folder);
            gSlotState[slot].store(kSlotLive);
            return i;
        }
    }
    return -1;
}

}  // namespace

int registerTemporary(const std::string& path) {
    return registerSlot(path, false);
}

int registerTemporaryFolder(const std::string& path) {
    return registerSlot(path, true);
}

void setHelperChild(pid_t child) {
    gHelperChild.store(child);
}

StopSignalsDeferred::StopSignalsDeferred() {
    std::call_once(gHandlerOnce, installHandlers);
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &stops, &previous_);
    gCommitsRunning.fetch_add(1);
}

StopSignalsDeferred::~StopSignalsDeferred() {
    const bool last = gCommitsRunning.fetch_sub(1) == 1;
    const int pending = gPendingStop.load();
    if (last && pending != 0) {
        stopNow(pending);
    }
    ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

namespace {

// The process-id part of leftover names: "<target>.tmp<pid>.XXXXXX".
std::string leftoverPattern(const std::string& target, const char* kind) {
    return target + kind + std::to_string(::getpid()) + ".XXXXXX";
}

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

std::string saveTargetOf(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        const std::string resolved = resolvedPath(path);
        if (!resolved.empty()) {
            return resolved;
        }
    }
    return path;
}

namespace {

// Gives a new file the permission bits of the file it will replace, or of an ordinary create.
void takePermissions(int fd, const std::string& target) {
    struct stat info {};
    if (::stat(target.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        ::fchmod(fd, info.st_mode & 07777);
        return;
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
}

}  // namespace

bool moveIntoPlace(const std::string& file, const std::string& given, std::string& error) {
    const std::string target = saveTargetOf(given);
    if (!checkSaveTarget(target, error)) {
        return false;
    }
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        takePermissions(fd, target);
        ::close(fd);
    }
    if (::rename(file.c_str(), target.c_str()) != 0) {
        error = target + ": cannot rename into place: " + std::strerror(errno);
        return false;
    }
    return true;
}

int removeLeftovers(const std::vector<std::string>& targets) {
    // Each folder is read once, whatever the number of targets in it.
    std::map<std::string, std::set<std::string>> byFolder;
    for (const std::string& target : targets) {
        const std::string folder = directoryOf(target);
        byFolder[folder.empty() ? "." : folder].insert(
            target.substr(folder.empty() ? 0 : target.find_last_of('/') + 1));
    }
    int removed = 0;
    for (const auto& [folder, bases] : byFolder) {
        std::error_code code;
        std::filesystem::directory_iterator it(folder, code);
        if (code) {
            continue;
        }
        for (const auto& entry : it) {
            // "<base>.tmp<pid>.XXXXXX" or "<base>.old<pid>.XXXXXX" of a process that no longer
            // runs.
            const std::string name = entry.path().filename().string();
            if (name.size() < 12 || name[name.size() - 7] != '.') {
                continue;
            }
            const std::size_t dot = name.size() - 7;
            std::size_t digits = dot;
            while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1])) != 0) {
                --digits;
            }
            if (digits == dot || digits < 4) {
                continue;
            }
            const std::string kind = name.substr(digits - 4, 4);
            if ((kind != ".tmp" && kind != ".old") ||
                bases.count(name.substr(0, digits - 4)) == 0) {
                continue;
            }
            const std::string pidText = name.substr(digits, dot - digits);
            const long pid = std::strtol(pidText.c_str(), nullptr, 10);
            if (pid <= 0 || pid > INT_MAX || pid == ::getpid() ||
                !(::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)) {
                continue;
            }
            struct stat info {};
            if (::lstat(entry.path().c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
                ::unlink(entry.path().c_str()) == 0) {
                ++removed;
            }
        }
    }
    return removed;
}

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
    // The size of the file opened, not of whatever the name leads to by now.
    struct stat info {};
    if (::fstat(::fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) {
        std::fclose(file);
        error = "not a regular file";
        return false;
    }
    const auto size = static_cast<std::uint64_t>(info.st_size);
    if (size > maxBytes) {
        std::fclose(file);
        error = "file too large (" + formatByteCount(size) + ", at most " +
                formatByteCount(maxBytes) + ")";
        return false;
    }
    bytes.assign(static_cast<std::size_t>(size), 0);
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

AtomicFileWriter::AtomicFileWriter(std::string targetPath) : target_(saveTargetOf(targetPath)) {
    std::string refusal;
    if (!checkSaveTarget(target_, refusal)) {
        fail(refusal);
        return;
    }
    removeLeftovers({target_});
    std::string pattern = leftoverPattern(target_, ".tmp");
    const int fd = createRegisteredTemporary(pattern, tempSlot_);
    if (fd < 0) {
        fail("cannot create " + pattern + ": " + std::strerror(errno));
        return;
    }
    temp_ = pattern;
    takePermissions(fd, target_);
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

std::string FileSetTransaction::stage(const std::string& given) {
    const std::string target = saveTargetOf(given);
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
    std::string pattern = leftoverPattern(target, ".tmp");
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

namespace {

// Copies the file at from to a new file at to (created exclusively) with its permission bits.
bool copyFile(const std::string& from, const std::string& to) {
    const int in = ::open(from.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (in < 0) {
        return false;
    }
    struct stat info {};
    if (::fstat(in, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(in);
        return false;
    }
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        ::close(in);
        return false;
    }
    bool ok = true;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put =
                ::write(out, buffer.data() + done, static_cast<std::size_t>(got - done));
            if (put < 0 && errno == EINTR) {
                continue;
            }
            if (put <= 0) {
                ok = false;
                break;
            }
            done += put;
        }
        if (!ok) {
            break;
        }
    }
    ok = ::fchmod(out, info.st_mode & 07777) == 0 && ok;
    ok = ::close(out) == 0 && ok;
    ::close(in);
    if (!ok) {
        ::unlink(to.c_str());
    }
    return ok;
}

}  // namespace

bool FileSetTransaction::commit() {
    if (done_) {
        error_ = "the set was already saved or abandoned";
        return false;
    }
    // Leftovers of earlier saves of these targets that were stopped outright go first.
    std::vector<std::string> targets;
    for (const Member& member : members_) {
        targets.push_back(member.target);
    }
    removeLeftovers(targets);
    // A stop signal now waits until every member is in place (or the old set is back).
    const StopSignalsDeferred deferred;
    // Every existing member is kept under a backup name before anything is renamed: a hard link
    // where the file system has them, else a copy. A member that cannot be kept stops the save
    // before anything changed.
    struct Backup {
        std::string target;
        std::string saved;  // "" when the target did not exist (remove it on rollback)
        int slot = -1;
        bool stranded = false;  // the old file could not be put back: keep its backup
    };
    std::vector<Backup> backups;
    const auto dropBackups = [&backups]() {
        for (const Backup& b : backups) {
            if (!b.saved.empty() && !b.stranded) {
                ::unlink(b.saved.c_str());
            }
            unregisterTemporary(b.slot);
        }
        backups.clear();
    };
    for (const Member& member : members_) {
        Backup backup{member.target, {}, -1};
        std::string problem;
        if (!checkSaveTarget(member.target, problem)) {
            error_ = problem;
            dropBackups();
            abort();
            return false;
        }
        // The new file takes the old one's permission bits (or an ordinary create's).
        const int written = ::open(member.temp.c_str(), O_RDONLY | O_CLOEXEC);
        if (written >= 0) {
            takePermissions(written, member.target);
            ::close(written);
        }
        if (fileSize(member.target)) {
            std::string pattern = leftoverPattern(member.target, ".old");
            const int fd = createRegisteredTemporary(pattern, backup.slot);
            bool kept = false;
            if (fd >= 0) {
                ::close(fd);
                ::unlink(pattern.c_str());
                kept = ::link(member.target.c_str(), pattern.c_str()) == 0 ||
                       copyFile(member.target, pattern);
            }
            if (!kept) {
                error_ = member.target + ": cannot keep the old file while the set is replaced (" +
                         std::strerror(errno) + "): nothing changed";
                unregisterTemporary(backup.slot);
                dropBackups();
                abort();
                return false;
            }
            backup.saved = pattern;
        }
        backups.push_back(backup);
    }
    for (std::size_t i = 0; i < members_.size(); ++i) {
        const Member& member = members_[i];
        if (::rename(member.temp.c_str(), member.target.c_str()) == 0) {
            continue;
        }
        error_ = member.target + ": cannot rename into place: " + std::strerror(errno);
        // Roll back: the old members return, the new ones go.
        for (std::size_t k = i; k-- > 0;) {
            Backup& b = backups[k];
            if (b.saved.empty()) {
                ::unlink(b.target.c_str());
            } else if (::rename(b.saved.c_str(), b.target.c_str()) == 0) {
                b.saved.clear();
            } else {
                b.stranded = true;
                error_ += "; the old " + b.target + " is kept as " + b.saved;
            }
        }
        dropBackups();
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
