// Left to the program, a frame is drawn on one thread or shared among all of them, whichever
// frames of the same kind were measured faster on this machine: a frame whose hand-over and
// borders cost more than another core gains stays on one thread, and so do frames while other
// programs hold the other cores. A kind of frame is tried both ways first, after one frame to
// warm up (shared first, so that a single picture uses every core), then drawn the faster way,
// and the other way is tried again every so often, as the machine's load changes. Each way is
// judged by the median of its last few frames, so that one interrupted frame does not decide; a
// frame far slower than the other way ends its trial.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>

namespace strata::platform {

// What makes frames alike: their size, the object they draw and the mode.
struct FrameKind {
    std::int32_t width = 0;
    std::int32_t height = 0;
    const void* scene = nullptr;
    bool highQuality = false;

    bool operator==(const FrameKind&) const = default;
};

class ThreadChoice {
  public:
    static constexpr int kTrials = 3;        // frames of each way in a trial
    static constexpr int kSettle = 2;        // frames after a change of way that do not count
    static constexpr int kRetryEvery = 96;   // frames drawn the chosen way between trials, at first
    static constexpr int kRetryMost = 1536;  // and at most
    static constexpr double kClearlySlower = 1.5;
    static constexpr int kKinds = 16;  // kinds remembered; the least recent one makes room

    // Whether the next frame of this kind is shared among the threads.
    bool share(const FrameKind& kind);
    // The time of a frame of this kind, drawn shared or not.
    void record(const FrameKind& kind, bool shared, double seconds);

  private:
    struct Way {
        std::array<double, kTrials> recent{};  // a ring of the last frames' times
        int count = 0;                         // frames in the ring (up to kTrials)
        int next = 0;
        void add(double seconds);
        double median() const;
    };
    struct Entry {
        FrameKind kind;
        std::int64_t frames = 0;  // recorded, the warm-up one included
        std::int64_t lastUse = 0;
        Way ways[2];  // one thread, shared
        bool shared = true;
        int sinceTrial = 0;
        int retryEvery = kRetryEvery;
        bool lastShared = true;  // the way of the last frame
        int settling = 0;        // frames still to pass before times count
    };
    Entry& find(const FrameKind& kind);

    std::mutex mutex_;
    std::array<Entry, kKinds> entries_{};
    int used_ = 0;
    std::int64_t clock_ = 0;
};

// The choice the frame function consults.
ThreadChoice& frameThreadChoice();

}  // namespace strata::platform
