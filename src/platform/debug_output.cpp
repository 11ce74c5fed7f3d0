#include "platform/debug_output.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <utility>

namespace strata::platform {
namespace {

std::mutex& sinkMutex() {
    static std::mutex mutex;
    return mutex;
}

DebugSink& currentSink() {
    static DebugSink sink;
    return sink;
}

std::string vformat(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (needed <= 0) {
        return {};
    }
    std::string out(static_cast<std::size_t>(needed), '\0');
    std::vsnprintf(out.data(), out.size() + 1, format, args);
    return out;
}

}  // namespace

void debugOutput(std::string_view text) {
    DebugSink sink;
    {
        std::lock_guard lock(sinkMutex());
        sink = currentSink();
    }
    if (sink) {
        sink(text);
        return;
    }
    std::fwrite(text.data(), 1, text.size(), stderr);
}

void debugPrintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = vformat(format, args);
    va_end(args);
    debugOutput(text);
}

std::string formatString(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = vformat(format, args);
    va_end(args);
    return text;
}

DebugSink setDebugSink(DebugSink sink) {
    std::lock_guard lock(sinkMutex());
    return std::exchange(currentSink(), std::move(sink));
}

DebugCapture::DebugCapture() {
    previous_ = setDebugSink([this](std::string_view text) { pieces_.emplace_back(text); });
}

DebugCapture::~DebugCapture() {
    setDebugSink(std::move(previous_));
}

std::string DebugCapture::text() const {
    std::string all;
    for (const auto& piece : pieces_) {
        all += piece;
    }
    return all;
}

}  // namespace strata::platform
