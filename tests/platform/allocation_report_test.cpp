// The size and task of an allocation that failed, as the commands report them.
#include "platform/allocation_report.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <string>
#include <vector>
#include "sanitized_build.h"

namespace strata::platform {
namespace {

TEST(AllocationReport, TasksNest) {
    EXPECT_EQ(currentMemoryTask(), "");
    {
        const MemoryTask outer("drawing the 350x350 frame");
        EXPECT_EQ(currentMemoryTask(), "drawing the 350x350 frame");
        {
            const MemoryTask inner("reading a.png");
            EXPECT_EQ(currentMemoryTask(), "reading a.png");
        }
        EXPECT_EQ(currentMemoryTask(), "drawing the 350x350 frame");
    }
    EXPECT_EQ(currentMemoryTask(), "");
}

// A request no machine can meet throws std::bad_alloc, and the line names its size and the task
// that asked, even after the task has ended.
TEST(AllocationReport, AFailedRequestIsNamedWithItsSize) {
#ifdef STRATA_SANITIZED
    GTEST_SKIP() << "the sanitizers' own allocator stops the program on such a request";
#else
    clearFailedAllocation();
    EXPECT_EQ(lastFailedAllocation(), 0u);
    const std::size_t huge = std::size_t{1} << 60;
    bool thrown = false;
    try {
        const MemoryTask task("drawing the 12000x12000 frame");
        std::vector<std::uint8_t> bytes(huge);
        bytes[0] = 1;
    } catch (const std::bad_alloc&) {
        thrown = true;
    }
    ASSERT_TRUE(thrown);
    EXPECT_EQ(lastFailedAllocation(), huge);
    EXPECT_EQ(outOfMemoryMessage(),
              "out of memory: could not allocate 1.00 EB while drawing the 12000x12000 frame");
    clearFailedAllocation();
    EXPECT_EQ(outOfMemoryMessage(), "out of memory");
    // The nothrow form reports by its null result and is noted too.
    EXPECT_EQ(new (std::nothrow) std::uint8_t[huge], nullptr);
    EXPECT_EQ(lastFailedAllocation(), huge);
    clearFailedAllocation();
#endif
}

}  // namespace
}  // namespace strata::platform
