// Runs a per-row job on several threads. Rows are handed out one at a time; each row's output
// goes to its own slot, so the result never depends on the thread count. Progress is reported
// from the calling thread only, through a callback that knows nothing about terminals.
#pragma once

#include <functional>

namespace strata::maker {

// fraction of the work done, 0..1; called from the thread that started the work.
using ProgressCallback = std::function<void(double fraction)>;

// Calls job(row) once for every row in 0..rows-1 on `threads` threads (at least 1). job must be
// safe to run concurrently for different rows. progress (may be empty) is called now and then
// with the fraction of rows finished, and once with 1 at the end.
void runRows(int rows, int threads, const std::function<void(int row)>& job,
             const ProgressCallback& progress);

}  // namespace strata::maker
