// strata bench FILE: the viewer's "Run test" headless. Opens the file as the viewer does (any
// kind it opens), resets the view to the file's reference camera and prints the counter table of
// three counted draws; optionally times ordinary frames of the same view.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>
#include <string_view>

#include "app/app_commands.h"
#include "app/app_view.h"
#include "platform/clock.h"
#include "platform/debug_output.h"
#include "platform/worker_pool.h"
#include "tools/camera_options.h"
#include "tools/commands.h"

namespace strata::tools {
namespace {

struct BenchArgs {
    std::string input;
    int runs = 1;
    int frames = 0;
    std::string threads;  // empty: every core
};

int runBench(const BenchArgs& args) {
    if (args.runs < 1 || args.runs > 1000) {
        std::fprintf(stderr, "strata bench: --runs wants 1..1000, got %d\n", args.runs);
        return 2;
    }
    if (args.frames < 0 || args.frames > 100000) {
        std::fprintf(stderr, "strata bench: --frames wants 0..100000, got %d\n", args.frames);
        return 2;
    }
    int threads = 0;  // automatic
    if (!args.threads.empty() && !parseThreads(args.threads, threads)) {
        std::fprintf(stderr, "strata bench: --threads wants a whole number 1..%d, got \"%s\"\n",
                     kMaxThreads, args.threads.c_str());
        return 2;
    }
    app::AppView view;
    view.drawThreads = threads;
    view.OnInitialUpdate();
    if (!view.OpenFile(args.input)) {
        std::fprintf(stderr, "strata bench: %s\n", view.statusNote.c_str());
        return 1;
    }
    // The table lines go to standard output, one piece each.
    const platform::DebugSink previous = platform::setDebugSink(
        [](std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); });
    for (int i = 0; i < args.runs; ++i) {
        view.OnCommand(app::kIdRunTest);
    }
    if (args.frames > 0) {
        // threads= tells how most frames were drawn.
        platform::FrameThreadTally tally;
        platform::takeDrawThreadsUsed();
        const std::int64_t start = platform::steadyNanoseconds();
        for (int i = 0; i < args.frames; ++i) {
            view.DrawFrame();
            tally.after();
        }
        const int threadsUsed = tally.most();
        const double seconds = static_cast<double>(platform::steadyNanoseconds() - start) /
                               platform::kCounterFrequency;
        std::printf("frames=%d ms_per_frame=%.3f hz=%.2f threads=%d\n", args.frames,
                    seconds * 1e3 / args.frames, seconds > 0.0 ? args.frames / seconds : 0.0,
                    threadsUsed);
    }
    std::fflush(stdout);
    platform::setDebugSink(previous);
    return 0;
}

}  // namespace

void addBenchCommand(CLI::App& app, int& status) {
    auto args = std::make_shared<BenchArgs>();
    auto* command = app.add_subcommand(
        "bench", "Run the viewer's benchmark on a file: three counted draws and the event table");
    command->add_option("file", args->input, "any file the viewer opens")->required();
    command->add_option("--runs", args->runs, "run the benchmark N times (default 1)");
    command->add_option("--frames", args->frames,
                        "then time N ordinary frames of the same view and print the rate");
    command->add_option("--threads", args->threads,
                        "threads that draw (default: every core); "
                        "the picture is the same");
    command->callback([args, &status] { status = runBench(*args); });
}

}  // namespace strata::tools
