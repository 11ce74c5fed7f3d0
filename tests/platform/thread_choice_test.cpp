// The Automatic choice between one thread and all, fed frame times by hand: which way it takes,
// which frames count, how fast it gives up a way that does not pay and how it follows a change
// of load.
#include "platform/thread_choice.h"

#include <gtest/gtest.h>

#include <vector>

namespace strata::platform {
namespace {

// Draws `frames` frames of kind with the given times per way (seconds, one thread then shared)
// and returns the ways taken, 1 for shared.
std::vector<int> drawFrames(ThreadChoice& choice, const FrameKind& kind, int frames, double one,
                            double shared) {
    std::vector<int> ways;
    for (int i = 0; i < frames; ++i) {
        const bool share = choice.share(kind);
        choice.record(kind, share, share ? shared : one);
        ways.push_back(share ? 1 : 0);
    }
    return ways;
}

int sharedCount(const std::vector<int>& ways, std::size_t from = 0) {
    int n = 0;
    for (std::size_t i = from; i < ways.size(); ++i) {
        n += ways[i];
    }
    return n;
}

TEST(ThreadChoice, TakesTheFasterWayAfterTryingBoth) {
    constexpr int kWarmUpAndTrials =
        1 + ThreadChoice::kTrials + ThreadChoice::kSettle + ThreadChoice::kTrials;
    struct Case {
        double one, shared;
        int wantWay;
    };
    // Shared faster; shared slower; shared a little slower (no early end); equal (one thread).
    for (const Case& c : {Case{0.010, 0.006, 1}, Case{0.010, 0.013, 0}, Case{0.010, 0.0101, 0},
                          Case{0.010, 0.010, 0}}) {
        ThreadChoice choice;
        const FrameKind kind{800, 600, nullptr, true};
        const std::vector<int> ways = drawFrames(choice, kind, 60, c.one, c.shared);
        // Warm-up and the shared trial first (a single picture uses every core), then one thread.
        for (int i = 0; i <= ThreadChoice::kTrials; ++i) {
            EXPECT_EQ(ways[static_cast<std::size_t>(i)], 1) << i;
        }
        EXPECT_EQ(ways[ThreadChoice::kTrials + 1], 0);
        for (std::size_t i = kWarmUpAndTrials; i < ways.size(); ++i) {
            EXPECT_EQ(ways[i], c.wantWay) << c.one << " " << c.shared << " frame " << i;
        }
    }
}

TEST(ThreadChoice, WarmUpAndSettlingFramesDoNotCount) {
    ThreadChoice choice;
    const FrameKind kind{640, 480, nullptr, false};
    // A first frame of a second (buffers made, tables built) must not make sharing look slow.
    ASSERT_TRUE(choice.share(kind));
    choice.record(kind, true, 1.0);
    // The shared trial: 7 ms.
    for (int i = 0; i < ThreadChoice::kTrials; ++i) {
        ASSERT_TRUE(choice.share(kind));
        choice.record(kind, true, 0.007);
    }
    // One thread: the settling frames are slow (10 ms: not 1.5 times as slow), the counted ones
    // 6.5 ms.
    for (int i = 0; i < ThreadChoice::kSettle; ++i) {
        ASSERT_FALSE(choice.share(kind));
        choice.record(kind, false, 0.010);
    }
    for (int i = 0; i < ThreadChoice::kTrials; ++i) {
        ASSERT_FALSE(choice.share(kind));
        choice.record(kind, false, 0.0065);
    }
    EXPECT_FALSE(choice.share(kind));
    // One interrupted frame among them does not turn the choice (median).
    choice.record(kind, false, 0.0095);
    EXPECT_FALSE(choice.share(kind));
}

TEST(ThreadChoice, AFarSlowerFrameEndsItsTrial) {
    // A large frame: one thread takes 3x the shared time. The first one-thread frame ends the
    // trial, settling or not.
    {
        ThreadChoice choice;
        const FrameKind kind{1920, 1080, nullptr, true};
        const std::vector<int> ways = drawFrames(choice, kind, 40, 0.030, 0.010);
        EXPECT_EQ(static_cast<int>(ways.size()) - sharedCount(ways), 1);
    }
    // A busy core: shared frames wait for it. When shared is tried again it costs one frame.
    {
        ThreadChoice choice;
        const FrameKind kind{1920, 1080, nullptr, true};
        const std::vector<int> first = drawFrames(choice, kind, 20, 0.010, 0.030);
        EXPECT_EQ(first.back(), 0);
        const std::vector<int> later =
            drawFrames(choice, kind, ThreadChoice::kRetryEvery + 20, 0.010, 0.030);
        EXPECT_EQ(sharedCount(later), 1);
    }
}

TEST(ThreadChoice, FollowsAChangeOfLoadAndRetriesLessOftenWhileClear) {
    ThreadChoice choice;
    const FrameKind kind{1920, 1080, nullptr, true};
    // Idle: shared pays.
    std::vector<int> ways = drawFrames(choice, kind, 200, 0.010, 0.006);
    EXPECT_EQ(ways.back(), 1);
    // A program takes a core: shared becomes slower; the next retry of one thread finds it out.
    ways = drawFrames(choice, kind, 2 * ThreadChoice::kRetryEvery + 20, 0.010, 0.016);
    EXPECT_EQ(ways.back(), 0);
    // While the difference stays clear the retries space out: over many frames few are shared.
    ways = drawFrames(choice, kind, 20 * ThreadChoice::kRetryEvery, 0.010, 0.016);
    EXPECT_LT(sharedCount(ways), 10);
    EXPECT_GT(sharedCount(ways), 0);  // but never stop
    // Idle again: shared is taken back within the longest retry interval.
    ways = drawFrames(choice, kind, ThreadChoice::kRetryMost + 20, 0.010, 0.006);
    EXPECT_EQ(ways.back(), 1);
}

TEST(ThreadChoice, KindsAreJudgedApart) {
    ThreadChoice choice;
    const int scene = 0;
    const FrameKind small{350, 350, &scene, false};
    const FrameKind large{1920, 1080, &scene, false};
    const FrameKind otherMode{1920, 1080, &scene, true};
    for (int i = 0; i < 30; ++i) {
        for (const FrameKind& k : {small, large, otherMode}) {
            const bool share = choice.share(k);
            const double one = k == small ? 0.001 : 0.010;
            const double shared = k == small ? 0.0013 : k == large ? 0.013 : 0.006;
            choice.record(k, share, share ? shared : one);
        }
    }
    EXPECT_FALSE(choice.share(small));
    EXPECT_FALSE(choice.share(large));
    EXPECT_TRUE(choice.share(otherMode));
    // More kinds than it keeps: the least recently drawn is forgotten (tried afresh), the
    // others keep their choice.
    std::vector<int> scenes(ThreadChoice::kKinds);
    for (int& s : scenes) {
        drawFrames(choice, FrameKind{1920, 1080, &s, false}, 1, 0.010, 0.006);
        choice.share(large);
    }
    EXPECT_FALSE(choice.share(large));
    EXPECT_TRUE(choice.share(small));  // forgotten: a shared warm-up frame again
}

}  // namespace
}  // namespace strata::platform
