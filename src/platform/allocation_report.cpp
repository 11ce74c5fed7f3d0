// The replaceable allocation functions of the program: the same as the library's (malloc, the
// new handler, std::bad_alloc), except that a request that cannot be met is noted, with the
// task of the thread at that moment, before the exception leaves.
#include "platform/allocation_report.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include "platform/number_parse.h"

// Sanitizer builds keep the sanitizers' own operators (they check new/delete pairs).
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define STRATA_KEEP_LIBRARY_NEW 1
#endif
#endif
#else
#define STRATA_KEEP_LIBRARY_NEW 1
#endif

namespace strata::platform {
namespace {

thread_local std::uint64_t tFailedBytes = 0;
// The task names of a thread, made on first use and freed when the thread ends.
struct TaskSlots {
    std::string* task = nullptr;
    std::string* failedTask = nullptr;
    TaskSlots() = default;
    TaskSlots(const TaskSlots&) = delete;
    TaskSlots& operator=(const TaskSlots&) = delete;
    ~TaskSlots() {
        delete task;
        delete failedTask;
    }
};
thread_local TaskSlots tSlots;
thread_local bool tNoting = false;

std::string& taskSlot(std::string*& slot) {
    // Made on first use, so a thread that never names a task allocates nothing for it.
    if (slot == nullptr) {
        slot = new std::string;
    }
    return *slot;
}

[[maybe_unused]] void noteFailedAllocation(std::size_t bytes) noexcept {
    if (tNoting) {
        return;  // the copy below failed too: the outer request is the one to report
    }
    tNoting = true;
    try {
        // Copying a short label may itself fail when memory is gone: keep the size then.
        taskSlot(tSlots.failedTask) = tSlots.task != nullptr ? *tSlots.task : std::string();
    } catch (...) {
    }
    tFailedBytes = bytes;
    tNoting = false;
}

}  // namespace

std::uint64_t lastFailedAllocation() {
    return tFailedBytes;
}

void clearFailedAllocation() {
    tFailedBytes = 0;
    if (tSlots.failedTask != nullptr) {
        tSlots.failedTask->clear();
    }
}

MemoryTask::MemoryTask(std::string what) {
    std::string& task = taskSlot(tSlots.task);
    previous_ = std::move(task);
    task = std::move(what);
}

MemoryTask::~MemoryTask() {
    taskSlot(tSlots.task) = std::move(previous_);
}

const std::string& currentMemoryTask() {
    return taskSlot(tSlots.task);
}

const std::string& failedMemoryTask() {
    return taskSlot(tSlots.failedTask);
}

std::string outOfMemoryMessage() {
    std::string line = "out of memory";
    const std::uint64_t bytes = lastFailedAllocation();
    if (bytes > 0) {
        line += ": could not allocate " + formatByteCount(bytes);
    }
    const std::string& task = failedMemoryTask().empty() ? currentMemoryTask() : failedMemoryTask();
    if (!task.empty()) {
        line += " while " + task;
    }
    return line;
}

#ifndef STRATA_KEEP_LIBRARY_NEW
namespace {

// The loop of every throwing operator new: try, call the new handler, try again; without a
// handler, note the failure and throw.
template <typename Try>
void* allocateWith(std::size_t size, Try attempt) {
    if (size == 0) {
        size = 1;
    }
    for (;;) {
        if (void* p = attempt(size)) {
            return p;
        }
        const std::new_handler handler = std::get_new_handler();
        if (handler == nullptr) {
            noteFailedAllocation(size);
            throw std::bad_alloc();
        }
        handler();
    }
}

void* allocate(std::size_t size) {
    return allocateWith(size, [](std::size_t bytes) { return std::malloc(bytes); });
}

void* allocateAligned(std::size_t size, std::align_val_t alignment) {
    const auto align = std::max<std::size_t>(static_cast<std::size_t>(alignment), sizeof(void*));
    return allocateWith(size, [align](std::size_t bytes) {
        void* p = nullptr;
        return ::posix_memalign(&p, align, bytes) == 0 ? p : nullptr;
    });
}

}  // namespace
#endif
}  // namespace strata::platform

#ifndef STRATA_KEEP_LIBRARY_NEW
void* operator new(std::size_t size) {
    return strata::platform::allocate(size);
}
void* operator new[](std::size_t size) {
    return strata::platform::allocate(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
    return strata::platform::allocateAligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return strata::platform::allocateAligned(size, alignment);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
#endif
