#include "brenlo/string.hpp"

#include <cstdio>
#include <memory>

namespace brenlo::string {

std::string vstrprintf(const std::string& format, va_list args) {
    va_list measure;
    va_copy(measure, args);
    int n = std::vsnprintf(nullptr, 0, format.c_str(), measure);
    va_end(measure);
    // A negative length is an encoding error (e.g. an unconvertible wide
    // character); there is no text to give back.
    if (n < 0)
        return std::string();
    std::unique_ptr<char[]> buf(new char[static_cast<size_t>(n) + 1]);
    std::vsnprintf(buf.get(), static_cast<size_t>(n) + 1, format.c_str(), args);
    return std::string(buf.get(), static_cast<size_t>(n));
}

std::string strprintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string result = vstrprintf(format, args);
    va_end(args);
    return result;
}

} // namespace brenlo::string
