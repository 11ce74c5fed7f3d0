// Running a program from a test: a shell command line, its exit status and what it printed.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace strata::testing {

struct CommandRun {
    int status = -1;  // exit status; -1 when the command did not run or did not exit
    std::string out;  // standard output (append " 2>&1" to the command to collect errors too)
};

// Runs command through the shell and collects its standard output.
inline CommandRun runCommand(const std::string& command) {
    CommandRun run;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        run.out.append(buffer, n);
    }
    const int raw = ::pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
}

}  // namespace strata::testing
