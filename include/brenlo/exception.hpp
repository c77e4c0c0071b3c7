// The library's exception family and printf-style construction of messages.
#pragma once

#include <cstdarg>
#include <exception>
#include <string>

namespace brenlo {

namespace string {
std::string vstrprintf(const std::string& format, va_list args);
}

/// Root of the family: one message, returned by why() and what().
class Exception : public std::exception {
public:
    Exception() = default;
    explicit Exception(const std::string& why) : m_why(why) {}
    Exception(const Exception&) = default;
    Exception& operator=(const Exception&) = default;
    ~Exception() override = default;

    const char* what() const noexcept override { return m_why.c_str(); }
    const std::string& why() const { return m_why; }

private:
    std::string m_why;
};

#define BRENLO_DECLARE_EXCEPTION(Name, Base)                                                       \
    class Name : public Base {                                                                     \
    public:                                                                                        \
        Name() = default;                                                                          \
        explicit Name(const std::string& why) : Base(why) {}                                       \
        Name(const Name&) = default;                                                               \
        Name& operator=(const Name&) = default;                                                    \
        ~Name() override = default;                                                                \
    }

/// Root of look-up failures.
BRENLO_DECLARE_EXCEPTION(AccessException, Exception);
/// A key that a container must hold is absent.
BRENLO_DECLARE_EXCEPTION(NotFoundException, AccessException);
/// Malformed input, or data that cannot be read or written.
BRENLO_DECLARE_EXCEPTION(IOException, Exception);
/// An operation that an object does not offer.
BRENLO_DECLARE_EXCEPTION(UnsupportedOperationException, Exception);
/// A key or serial bound twice.
BRENLO_DECLARE_EXCEPTION(AlreadyExistsException, UnsupportedOperationException);
/// An object could not be created.
BRENLO_DECLARE_EXCEPTION(AllocationException, Exception);

#undef BRENLO_DECLARE_EXCEPTION

/// Builds (does not throw) a T whose message is the formatted text.
template <class T> T vexceptf(const char* format, va_list args) {
    return T(string::vstrprintf(std::string(format), args));
}

template <class T> T exceptf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    T result = vexceptf<T>(format, args);
    va_end(args);
    return result;
}

} // namespace brenlo
