// The diagnostic sink: every report of the system goes out as one formatted line per call.
// Lines go to stderr by default; tests and tools replace the sink to capture or redirect them.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace strata::platform {

using DebugSink = std::function<void(std::string_view text)>;

// Sends one piece of text (normally one line ending in '\n') to the current sink.
void debugOutput(std::string_view text);

// printf-style formatting into an unbounded buffer, then debugOutput.
void debugPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// printf-style formatting into a std::string (no fixed-size buffers anywhere).
std::string formatString(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Replaces the sink and returns the previous one. An empty sink restores stderr.
DebugSink setDebugSink(DebugSink sink);

// Captures every piece of debug output for its lifetime (tests), restoring the old sink after.
class DebugCapture {
  public:
    DebugCapture();
    ~DebugCapture();
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    const std::vector<std::string>& pieces() const { return pieces_; }
    std::string text() const;  // all pieces joined
    void clear() { pieces_.clear(); }

  private:
    std::vector<std::string> pieces_;
    DebugSink previous_;
};

}  // namespace strata::platform
