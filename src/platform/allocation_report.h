// What to say when memory runs out. The program's operator new (replaced in
// allocation_report.cpp, which any user of these functions links in) notes the size of the
// request it could not meet before it throws std::bad_alloc; a task label names what the
// program was doing. A command or a window catches the exception at its boundary and reports
// one line from both.
#pragma once

#include <cstdint>
#include <string>

namespace strata::platform {

// Bytes of the last request operator new could not meet on this thread (0 when none failed).
std::uint64_t lastFailedAllocation();
// Forgets the last failure (the next report then only tells of a new one).
void clearFailedAllocation();

// Names what this thread is doing while it lives ("drawing the 12000 x 12000 frame"); nested
// tasks replace the outer one until they end.
class MemoryTask {
  public:
    explicit MemoryTask(std::string what);
    ~MemoryTask();
    MemoryTask(const MemoryTask&) = delete;
    MemoryTask& operator=(const MemoryTask&) = delete;

  private:
    std::string previous_;
};

// The innermost task of this thread ("" outside every task).
const std::string& currentMemoryTask();

// The line for a std::bad_alloc caught now: "out of memory: could not allocate 1.07 GB while
// drawing the 12000 x 12000 frame" (without the size when none was noted, without the task
// when none is named). Call it before unwinding past the task that failed, or pass the task
// remembered at the failure (failedMemoryTask()).
std::string outOfMemoryMessage();
// The task that was current when the last allocation failed on this thread.
const std::string& failedMemoryTask();

}  // namespace strata::platform
