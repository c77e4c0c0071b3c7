// Character classes, trimming, small text searches and the value parsers.
//
// The parsers read a value from the front of a text and report how far they
// got through a position argument; on failure the position is left unmoved.
#pragma once

#include "brenlo/exception.hpp"
#include "brenlo/pointer.hpp"

#include <cstddef>
#include <string>

namespace brenlo::string {

/// printf into a string of any length. The format is a C string: a
/// reference parameter cannot portably precede the variadic arguments.
std::string strprintf(const char* format, ...);
std::string vstrprintf(const std::string& format, va_list args);

/// A set of characters, kept sorted (as signed char) for binary search.
class Alphabet {
public:
    static const Alphabet WHITESPACE;

    Alphabet(const char* src, bool prepared);
    explicit Alphabet(const std::string& src);
    explicit Alphabet(const mem::Array<char>& src);

    bool match(char c) const;
    /// Index of the first character from `i` that is not a member; npos at the end.
    size_t nextMismatch(const char* str, size_t i) const;
    size_t nextMismatch(const std::string& str, size_t i) const;
    bool empty() const { return m_cc.size() == 0; }
    size_t size() const { return m_cc.size(); }
    char operator[](size_t i) const { return m_cc[i]; }

private:
    void m_assignSorted(const char* src, size_t len);

    mem::Array<char> m_cc;
};

/// The library's whitespace list; passing it (or null) selects Alphabet::WHITESPACE.
extern const char* const WHITESPACE;

std::string ltrim(const std::string& str, const char* cc = nullptr);
std::string ltrim(const std::string& str, const Alphabet& cc);
std::string rtrim(const std::string& str, const char* cc = nullptr);
std::string rtrim(const std::string& str, const Alphabet& cc);
std::string trim(const std::string& str, const char* cc = nullptr);
std::string trim(const std::string& str, const Alphabet& cc);

std::string substrRange(const std::string& str, size_t lo, size_t hi);
size_t indexOf(const char* a, char c, size_t start);
size_t lastIndexOf(const std::string& a, const std::string& s, size_t start);
int strcmpi(const char* a, const char* b);
bool startsWith(const char* subject, const char* key, size_t& i, bool caseInsensitive);
bool startsWithAny(const char* subject, const char* const* keys, size_t count, size_t& i,
                   bool caseInsensitive);

/// One specialisation per parsable type: parse(src, i) reads from src + i.
template <class T> struct ParseImpl;

#define BRENLO_DECLARE_PARSE(T)                                                                    \
    template <> struct ParseImpl<T> { static T parse(const char* src, size_t& i); }
BRENLO_DECLARE_PARSE(unsigned short);
BRENLO_DECLARE_PARSE(short);
BRENLO_DECLARE_PARSE(unsigned int);
BRENLO_DECLARE_PARSE(int);
BRENLO_DECLARE_PARSE(unsigned long);
BRENLO_DECLARE_PARSE(long);
BRENLO_DECLARE_PARSE(unsigned long long);
BRENLO_DECLARE_PARSE(long long);
BRENLO_DECLARE_PARSE(float);
BRENLO_DECLARE_PARSE(double);
BRENLO_DECLARE_PARSE(bool);
#undef BRENLO_DECLARE_PARSE

template <class T> T parse(const char* src, size_t& out) {
    return ParseImpl<T>::parse(src, out);
}

/// The leading value of `src`; whatever follows it is ignored, and a text
/// without a value reads as zero.
template <class T> T parse(const std::string& src) {
    size_t i = 0;
    return ParseImpl<T>::parse(src.c_str(), i);
}

/// Parses the whole of `str` into `dest`; on failure says so on standard
/// error and returns false.
template <class T> bool parseOrDie(const char* str, T& dest);
template <> bool parseOrDie<bool>(const char* str, bool& dest);
template <> bool parseOrDie<int>(const char* str, int& dest);
template <> bool parseOrDie<unsigned int>(const char* str, unsigned int& dest);
template <> bool parseOrDie<float>(const char* str, float& dest);

} // namespace brenlo::string
