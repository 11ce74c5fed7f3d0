#include "platform/thread_choice.h"

#include <algorithm>
#include <utility>

namespace strata::platform {

void ThreadChoice::Way::add(double seconds) {
    recent[static_cast<std::size_t>(next)] = seconds;
    next = (next + 1) % kTrials;
    count = std::min(count + 1, kTrials);
}

double ThreadChoice::Way::median() const {
    std::array<double, kTrials> sorted = recent;
    for (int i = 1; i < count; ++i) {
        for (int j = i;
             j > 0 && sorted[static_cast<std::size_t>(j)] < sorted[static_cast<std::size_t>(j - 1)];
             --j) {
            std::swap(sorted[static_cast<std::size_t>(j)], sorted[static_cast<std::size_t>(j - 1)]);
        }
    }
    return sorted[static_cast<std::size_t>(count / 2)];
}

ThreadChoice::Entry& ThreadChoice::find(const FrameKind& kind) {
    ++clock_;
    Entry* oldest = nullptr;
    for (int i = 0; i < used_; ++i) {
        Entry& e = entries_[static_cast<std::size_t>(i)];
        if (e.kind == kind) {
            e.lastUse = clock_;
            return e;
        }
        if (oldest == nullptr || e.lastUse < oldest->lastUse) {
            oldest = &e;
        }
    }
    Entry& slot = used_ < kKinds ? entries_[static_cast<std::size_t>(used_++)] : *oldest;
    slot = Entry{};
    slot.kind = kind;
    slot.lastUse = clock_;
    return slot;
}

bool ThreadChoice::share(const FrameKind& kind) {
    const std::lock_guard lock(mutex_);
    const Entry& e = find(kind);
    // The warm-up frame and the first trial are shared, as a single picture of a large scene
    // wants to be; then the trial on one thread.
    if (e.frames == 0 || e.ways[1].count < kTrials) {
        return true;
    }
    if (e.ways[0].count < kTrials) {
        return false;
    }
    return e.shared;
}

void ThreadChoice::record(const FrameKind& kind, bool shared, double seconds) {
    const std::lock_guard lock(mutex_);
    Entry& e = find(kind);
    // The first frame of a kind pays for what later frames reuse (buffers, tables).
    if (e.frames++ == 0) {
        return;
    }
    const int way = shared ? 1 : 0;
    const int other = 1 - way;
    // A frame that takes more than twice the other way's time ends its trial at once: its way
    // does not pay, whatever the rest would show (a core held by another program makes every
    // shared frame wait for it).
    if (e.ways[other].count == kTrials && seconds > kClearlySlower * e.ways[other].median()) {
        e.ways[way] = Way{};
        for (int i = 0; i < kTrials; ++i) {
            e.ways[way].add(seconds);
        }
        e.settling = 0;
        e.lastShared = shared;
    } else {
        // The first frames after a change of way run among threads the other way left spinning
        // or caches it left cold: only later ones count.
        if (shared != e.lastShared) {
            e.lastShared = shared;
            e.settling = kSettle;
        }
        if (e.settling > 0) {
            --e.settling;
            return;
        }
        e.ways[way].add(seconds);
        if (e.ways[0].count < kTrials || e.ways[1].count < kTrials) {
            return;  // a trial under way
        }
    }
    const bool before = e.shared;
    const double one = e.ways[0].median();
    const double all = e.ways[1].median();
    e.shared = all < one;
    if (++e.sinceTrial < e.retryEvery) {
        return;
    }
    // The way not chosen is measured afresh every retryEvery frames; less often while it stays
    // clearly slower, as often as at first once the choice changes.
    e.sinceTrial = 0;
    const bool clear = std::max(one, all) > kClearlySlower * std::min(one, all);
    e.retryEvery = e.shared != before ? kRetryEvery
                   : clear            ? std::min(2 * e.retryEvery, kRetryMost)
                                      : e.retryEvery;
    e.ways[e.shared ? 0 : 1] = Way{};
}

ThreadChoice& frameThreadChoice() {
    static ThreadChoice choice;
    return choice;
}

}  // namespace strata::platform
