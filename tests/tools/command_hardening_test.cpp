// The command line as a hostile user drives it: out-of-range arguments, outputs that are not
// files, inputs that are FIFOs, sets that fail half-way and interrupted runs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "command_run.h"
#include "ldi/ldi_samples.h"

namespace {

using strata::ldi::testing::makeSample;
using strata::ldi::testing::readBytes;
using strata::ldi::testing::TempDir;
using strata::ldi::testing::writeBytes;
using strata::testing::CommandRun;
using strata::testing::runCommand;

// Runs strata with arguments (at most 60 s) and collects both output streams.
CommandRun runStrata(const std::string& arguments) {
    return runCommand("timeout 60 " + std::string(STRATA_EXE) + " " + arguments + " 2>&1");
}

std::string firstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

int lineCount(const std::string& text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

// Every value just outside its range is refused with one line giving the range; the values at
// the edges are taken.
TEST(CommandHardening, ArgumentsOutOfRangeAreRefused) {
    TempDir dir;
    const std::string out = " -o " + dir.file("o.ldibrtqp");
    const std::string small = "make demo --kind rt-qp --size 8 --layers 2";
    struct Case {
        std::string arguments;
        const char* expected;  // "" when accepted
    };
    const Case cases[] = {
        {"make demo --kind set --size 8 --levels 1 --members 0" + out, "--members wants 1..64"},
        {"make demo --kind set --size 8 --levels 1 --members 65" + out, "--members wants 1..64"},
        {"make demo --kind set --size 8 --levels 1 --members 100000" + out,
         "--members wants 1..64"},
        {"make demo --kind pyramid --size 16 --levels 0" + out, "--levels wants 1..2"},
        {"make demo --kind pyramid --size 16 --levels 3" + out, "--levels wants 1..2"},
        {"make demo --kind pyramid --size 256 --levels 100" + out, "--levels wants 1..6"},
        {"make demo --kind pyramid --size 16 --levels 2" + out, ""},
        {small + " --threads -1" + out, "not in range 0 to 256"},
        {small + " --threads 257" + out, "not in range 0 to 256"},
        {small + " --threads 256" + out, ""},
        {small + " --ambient 5" + out, "0..1"},
        {small + " --ambient nan" + out, "0..1"},
        {small + " --ambient -1" + out, "0..1"},
        {small + " --ambient 1.0001" + out, "0..1"},
        {small + " --ambient 1" + out, ""},
        {small + " --ambient 0" + out, ""},
        {"trace demo --size 8 --threads -1 -o " + dir.file("t.png"), "not in range 0 to 256"},
        {"trace demo --size 8 --ambient nan -o " + dir.file("t.png"), "0..1"},
        {"make demo --kind rt-mrqp --size 2048" + out, "use --size 2047 or less"},
        {"make demo --kind rtff-mrqp --size 16384" + out, "use --size 2047 or less"},
        {"make demo --size 2048 -o " + dir.file("all"), "use --size 2047 or less"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        const CommandRun run = runStrata(c.arguments);
        if (*c.expected == '\0') {
            EXPECT_EQ(run.status, 0) << run.out;
        } else {
            EXPECT_NE(run.status, 0);
            EXPECT_NE(run.out.find(c.expected), std::string::npos) << run.out;
            // One line names the flag and its range (the parser may add a pointer to --help).
            EXPECT_NE(firstLine(run.out).find(c.expected), std::string::npos) << run.out;
            EXPECT_LE(lineCount(run.out), 2) << run.out;
        }
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("all")));
}

TEST(CommandHardening, RenderSwitchesOutOfRangeAreRefused) {
    TempDir dir;
    auto ldi = makeSample(1, 2, 8, 8, 5);
    ASSERT_EQ(ldi->Save(dir.file("a.ldi")), 1);
    const std::string base = "render " + dir.file("a.ldi") + " -o " + dir.file("r.png");
    struct Case {
        std::string flags;
        const char* expected;
    };
    const Case cases[] = {
        {" --false-color -1", "not in range 0 to 9"},
        {" --false-color 10", "not in range 0 to 9"},
        {" --false-color 0", ""},
        {" --false-color 9", ""},
        {" --lower-half --upper-half", "excludes"},
        {" --lower-half", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        const CommandRun run = runStrata(base + c.flags);
        if (*c.expected == '\0') {
            EXPECT_EQ(run.status, 0) << run.out;
        } else {
            EXPECT_NE(run.status, 0);
            EXPECT_NE(run.out.find(c.expected), std::string::npos) << run.out;
        }
    }
}

// make, trace and render refuse to replace a FIFO or a folder, and leave it in place.
TEST(CommandHardening, OutputsThatAreNotFilesAreLeftAlone) {
    TempDir dir;
    auto ldi = makeSample(1, 2, 8, 8, 5);
    ASSERT_EQ(ldi->Save(dir.file("a.ldi")), 1);
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& arguments :
         {"make demo --kind rt-qp --size 8 -o " + fifo,
          "make demo --kind rtff-cp --size 8 -o " + fifo, "trace demo --size 8 -o " + fifo,
          "render " + dir.file("a.ldi") + " -o " + fifo,
          "make demo --kind quad --size 8 -o " + fifo + ".ldiquad",
          "make demo --kind pyramid --size 16 --levels 2 -o " + fifo}) {
        SCOPED_TRACE(arguments);
        if (arguments.find(".ldiquad") != std::string::npos) {
            ::mkfifo((fifo + ".ldiquad").c_str(), 0600);
        }
        const CommandRun run = runStrata(arguments);
        EXPECT_NE(run.status, 0);
        EXPECT_NE(run.out.find("is a FIFO"), std::string::npos) << run.out;
        struct stat info {};
        ASSERT_EQ(::stat(fifo.c_str(), &info), 0);
        EXPECT_TRUE(S_ISFIFO(info.st_mode));
    }
    // Nothing but the inputs and the FIFOs: no temporary and no member was left behind.
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        (void)entry;
        ++entries;
    }
    EXPECT_EQ(entries, 3);
}

// Inputs that are FIFOs are refused at once (timeout ends a run that waits).
TEST(CommandHardening, FifoInputsAreRefused) {
    TempDir dir;
    const std::string fifo = dir.file("in.ldi");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto ldi = makeSample(1, 2, 8, 8, 5);
    ASSERT_EQ(ldi->Save(dir.file("a.ldi")), 1);
    for (const std::string& arguments :
         {"info " + fifo, "render " + fifo + " -o " + dir.file("r.png"),
          "render " + dir.file("a.ldi") + " -o " + dir.file("r.png") + " --compare " + fifo,
          "make " + fifo + " --kind rt-qp -o " + dir.file("m.ldi"),
          "trace " + fifo + " -o " + dir.file("t.png")}) {
        SCOPED_TRACE(arguments);
        const auto start = std::chrono::steady_clock::now();
        const CommandRun run = runStrata(arguments);
        EXPECT_EQ(run.status == 0 || run.status == 124, false) << run.out;
        EXPECT_NE(run.out.find("not a regular file"), std::string::npos) << run.out;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    }
}

// `info` loads a file with bytes after its body and says how many.
TEST(CommandHardening, InfoReportsTrailingBytes) {
    TempDir dir;
    auto ldi = makeSample(2, 3, 6, 4, 5);
    ASSERT_EQ(ldi->Save(dir.file("a.ldi")), 1);
    auto bytes = readBytes(dir.file("a.ldi"));
    bytes.resize(bytes.size() + 5, 1);
    writeBytes(dir.file("b.ldi"), bytes);
    CommandRun run = runStrata("info " + dir.file("b.ldi"));
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("trailing bytes: 5 after the body, ignored\n"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("verdict: valid"), std::string::npos);
    run = runStrata("info --json " + dir.file("b.ldi"));
    EXPECT_NE(run.out.find("\"trailingBytes\": 5"), std::string::npos) << run.out;
    run = runStrata("info " + dir.file("a.ldi"));
    EXPECT_EQ(run.out.find("trailing"), std::string::npos) << run.out;
}

// A pyramid or set that fails half-way leaves the old one exactly as it was.
TEST(CommandHardening, FailedSetKeepsTheOldSet) {
    TempDir dir;
    const std::string set = dir.file("s.ldiset");
    const std::string make = "make demo --kind set --size 16 --levels 2 --members 3 -o " + set;
    ASSERT_EQ(runStrata(make).status, 0);
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> old;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        old.emplace_back(entry.path().string(), readBytes(entry.path().string()));
    }
    ASSERT_EQ(old.size(), 3u * 3u + 1u);
    // The last member's finest level cannot be replaced.
    std::filesystem::remove(dir.file("s_m2_l0.ldibrtqp"));
    std::filesystem::create_directory(dir.file("s_m2_l0.ldibrtqp"));
    const CommandRun run = runStrata(
        "make demo --kind set --size 16 --levels 2 --members 3 --shading normal -o " + set);
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.out.find("s_m2_l0.ldibrtqp is a folder"), std::string::npos) << run.out;
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        (void)entry;
        ++entries;
    }
    EXPECT_EQ(entries, 10);
    for (const auto& [path, bytes] : old) {
        if (path != dir.file("s_m2_l0.ldibrtqp")) {
            EXPECT_EQ(readBytes(path), bytes) << path;
        }
    }
}

// SIGTERM in the middle of a large make leaves no temporary files.
TEST(CommandHardening, InterruptedMakeLeavesNoTemporaries) {
    TempDir dir;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::execl(STRATA_EXE, STRATA_EXE, "make", "demo", "--kind", "set", "--size", "512",
                "--members", "4", "--threads", "1", "-o", dir.file("s.ldiset").c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // Wait until the first temporary exists, then stop the run.
    bool seen = false;
    for (int i = 0; i < 20000 && !seen; ++i) {
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
            seen = seen || entry.path().string().find(".tmp") != std::string::npos;
        }
        if (!seen) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    EXPECT_TRUE(seen);
    ::kill(child, SIGTERM);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        ADD_FAILURE() << "left behind: " << entry.path();
    }
}

}  // namespace
