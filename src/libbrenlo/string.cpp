#include "brenlo/string.hpp"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <set>
#include <type_traits>

namespace brenlo::string {

namespace {

const char* const KEYWORDS_INFINITY[] = {"inf", "infinity"};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

char upper(char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

mem::Array<char> sortedCopy(const char* src, size_t len) {
    std::set<char> unique(src, src + len);
    mem::Array<char> out(unique.size(), mem::MALLOC, nullptr);
    size_t k = 0;
    for (char c : unique)
        out[k++] = c;
    return out;
}

bool inList(const char* cc, char c) {
    for (; *cc; ++cc)
        if (*cc == c)
            return true;
    return false;
}

// Trimming over any membership test.
template <class Match>
std::string trimWith(const std::string& str, Match in, bool left, bool right) {
    size_t lo = 0;
    if (left)
        while (lo < str.size() && in(str[lo]))
            ++lo;
    size_t hi = str.size();
    if (right)
        while (hi > lo && in(str[hi - 1]))
            --hi;
    if (lo >= hi)
        return std::string();
    return str.substr(lo, hi - lo);
}

// Reads decimal digits (after an optional sign when `isSigned`) from `s`.
// Returns the number of characters consumed, or 0 on overflow; the digits are
// accumulated as a magnitude so that every overflow of T is seen.
template <class T> size_t parseDecimal(const char* s, T& out, bool isSigned) {
    typedef typename std::make_unsigned<T>::type U;
    const U limit = static_cast<U>(std::numeric_limits<T>::max());
    size_t pos = 0;
    bool negative = false;
    if (isSigned && (s[0] == '+' || s[0] == '-')) {
        negative = s[0] == '-';
        ++pos;
    }
    U value = 0;
    while (isDigit(s[pos])) {
        U digit = static_cast<U>(s[pos] - '0');
        if (value > (limit - digit) / 10)
            return 0;
        value = static_cast<U>(value * 10 + digit);
        ++pos;
    }
    out = negative ? static_cast<T>(static_cast<U>(U(0) - value)) : static_cast<T>(value);
    return pos;
}

template <class T> T parseInteger(const char* src, size_t& i) {
    if (src[0] == '\0')
        return 0;
    T value = 0;
    size_t n = parseDecimal<T>(src, value, true);
    if (n == 0 && isDigit(src[0]))
        return 0; // overflow
    if (n == 0 && (src[0] == '+' || src[0] == '-'))
        return 0;
    i += n;
    return value;
}

// "inf", "infinity" or "nan" (any case) as the whole rest of the text, with
// the sign already read; false, leaving `value` 0, for anything else.
template <class T> bool parseSpecial(const char* rest, bool negative, T& value) {
    size_t unused = 0;
    if (*rest == 'i' || *rest == 'I') {
        if (!startsWithAny(rest, KEYWORDS_INFINITY, 2, unused, true))
            return false;
        value = negative ? -std::numeric_limits<T>::infinity() : std::numeric_limits<T>::infinity();
        return true;
    }
    if (strcmpi("nan", rest) != 0)
        return false;
    value = std::numeric_limits<T>::quiet_NaN();
    return true;
}

// The accepted syntax is read step by step; the value is the correctly
// rounded conversion of the accepted digits, not an accumulation.
template <class T> T parseReal(const char* src, size_t& i) {
    if (src[0] == '\0')
        return 0;
    size_t pos = 0;
    bool negative = false;
    if (src[pos] == '+' || src[pos] == '-') {
        negative = src[pos] == '-';
        ++pos;
    }
    const char* rest = src + pos;
    T special = 0;
    if (parseSpecial(rest, negative, special)) {
        i += pos + std::strlen(rest);
        return special;
    }
    if (*rest == 'i' || *rest == 'I')
        return 0; // an "i" that does not spell infinity reads nothing

    std::string text;
    bool hasDigits = false;
    size_t intStart = pos;
    while (isDigit(src[pos]))
        ++pos;
    if (pos > intStart) {
        text.assign(src + intStart, pos - intStart);
        hasDigits = true;
    }
    if (src[pos] == '.') {
        size_t fracStart = pos + 1;
        size_t end = fracStart;
        while (isDigit(src[end]))
            ++end;
        if (end == fracStart && src[end] == '\0')
            return 0;
        if (text.empty())
            text = "0";
        text += '.';
        text.append(src + fracStart, end - fracStart);
        pos = end;
        hasDigits = true;
    }
    if (src[pos] == 'e' || src[pos] == 'E') {
        int exponent = 0;
        size_t n = parseDecimal<int>(src + pos + 1, exponent, true);
        if (n == 0 && src[pos + 1] == '\0')
            return 0;
        if (n == 0)
            exponent = 0; // nothing or an overflowing number: the mark alone is read
        if (!hasDigits)
            text = "1";
        text += 'e';
        text += std::to_string(exponent);
        pos += n + 1;
    }
    T value = 0;
    if (!text.empty())
        value = std::is_same<T, float>::value ? static_cast<T>(std::strtof(text.c_str(), nullptr))
                                              : static_cast<T>(std::strtod(text.c_str(), nullptr));
    i += pos;
    return negative ? -value : value;
}

} // namespace

const char* const WHITESPACE = " \t\r\n";
const Alphabet Alphabet::WHITESPACE(" \t\r\n", false);

Alphabet::Alphabet(const char* src, bool prepared) {
    size_t len = std::strlen(src);
    if (prepared) {
        m_cc = mem::Array<char>(len, mem::MALLOC, nullptr);
        std::memcpy(m_cc.pointer(), src, len);
    } else {
        m_cc = sortedCopy(src, len);
    }
}

Alphabet::Alphabet(const std::string& src) : Alphabet(src.c_str(), false) {}

Alphabet::Alphabet(const mem::Array<char>& src) : m_cc(sortedCopy(src.pointer(), src.size())) {}

bool Alphabet::match(char c) const {
    size_t n = m_cc.size();
    if (n == 0)
        return false;
    size_t lo = 0, hi = n - 1;
    while (lo <= hi) {
        size_t mid = (lo + hi) / 2;
        char m = m_cc[mid];
        if (m > c) {
            if (mid == 0)
                return false;
            hi = mid - 1;
        } else if (m < c) {
            lo = mid + 1;
        } else {
            return true;
        }
    }
    return false;
}

size_t Alphabet::nextMismatch(const char* str, size_t i) const {
    for (; str[i] != '\0'; ++i)
        if (!match(str[i]))
            return i;
    return std::string::npos;
}

size_t Alphabet::nextMismatch(const std::string& str, size_t i) const {
    for (; i < str.size(); ++i)
        if (!match(str[i]))
            return i;
    return std::string::npos;
}

static bool useAlphabet(const char* cc) {
    return cc == nullptr || cc == WHITESPACE;
}

std::string ltrim(const std::string& str, const Alphabet& cc) {
    return trimWith(
        str, [&](char c) { return cc.match(c); }, true, false);
}
std::string rtrim(const std::string& str, const Alphabet& cc) {
    return trimWith(
        str, [&](char c) { return cc.match(c); }, false, true);
}
std::string trim(const std::string& str, const Alphabet& cc) {
    return trimWith(
        str, [&](char c) { return cc.match(c); }, true, true);
}
std::string ltrim(const std::string& str, const char* cc) {
    if (useAlphabet(cc))
        return ltrim(str, Alphabet::WHITESPACE);
    return trimWith(
        str, [&](char c) { return inList(cc, c); }, true, false);
}
std::string rtrim(const std::string& str, const char* cc) {
    if (useAlphabet(cc))
        return rtrim(str, Alphabet::WHITESPACE);
    return trimWith(
        str, [&](char c) { return inList(cc, c); }, false, true);
}
std::string trim(const std::string& str, const char* cc) {
    if (useAlphabet(cc))
        return trim(str, Alphabet::WHITESPACE);
    return trimWith(
        str, [&](char c) { return inList(cc, c); }, true, true);
}

std::string substrRange(const std::string& str, size_t lo, size_t hi) {
    if (lo == hi)
        return std::string();
    return str.substr(lo, hi - lo);
}

size_t indexOf(const char* a, char c, size_t start) {
    for (size_t k = 0; k < start; ++k)
        if (a[k] == '\0')
            return std::string::npos;
    if (c == '\0')
        return std::string::npos;
    for (size_t k = start; a[k] != '\0'; ++k)
        if (a[k] == c)
            return k;
    return std::string::npos;
}

size_t lastIndexOf(const std::string& a, const std::string& s, size_t start) {
    return a.rfind(s, start);
}

int strcmpi(const char* a, const char* b) {
    while (*a && *b) {
        char ua = upper(*a), ub = upper(*b);
        if (ua != ub)
            return ua - ub;
        ++a;
        ++b;
    }
    return *a - *b;
}

bool startsWith(const char* subject, const char* key, size_t&, bool caseInsensitive) {
    for (; *key; ++key, ++subject) {
        if (*subject == '\0')
            return false;
        char s = caseInsensitive ? upper(*subject) : *subject;
        char k = caseInsensitive ? upper(*key) : *key;
        if (s != k)
            return false;
    }
    return true;
}

bool startsWithAny(const char* subject, const char* const* keys, size_t count, size_t& i,
                   bool caseInsensitive) {
    for (size_t k = 0; k < count; ++k)
        if (startsWith(subject, keys[k], i, caseInsensitive))
            return true;
    return false;
}

#define BRENLO_INTEGER_PARSE(T)                                                                    \
    T ParseImpl<T>::parse(const char* src, size_t& i) {                                            \
        return parseInteger<T>(src + i, i);                                                        \
    }
BRENLO_INTEGER_PARSE(unsigned short)
BRENLO_INTEGER_PARSE(short)
BRENLO_INTEGER_PARSE(unsigned int)
BRENLO_INTEGER_PARSE(int)
BRENLO_INTEGER_PARSE(unsigned long)
BRENLO_INTEGER_PARSE(long)
BRENLO_INTEGER_PARSE(unsigned long long)
BRENLO_INTEGER_PARSE(long long)
#undef BRENLO_INTEGER_PARSE

float ParseImpl<float>::parse(const char* src, size_t& i) {
    return parseReal<float>(src + i, i);
}
double ParseImpl<double>::parse(const char* src, size_t& i) {
    return parseReal<double>(src + i, i);
}

bool ParseImpl<bool>::parse(const char* src, size_t& i) {
    switch (src[0]) {
    case 'T':
    case 't':
    case 'Y':
    case 'y':
        if (strcmpi(src, "true") == 0)
            i += 4;
        else if (strcmpi(src, "yes") == 0)
            i += 3;
        else
            i += 1;
        return true;
    case 'F':
    case 'f':
    case 'N':
    case 'n':
        if (strcmpi(src, "false") == 0)
            i += 5;
        else if (strcmpi(src, "no") == 0)
            i += 2;
        else
            i += 1;
        return false;
    default:
        return false;
    }
}

namespace {
template <class T> bool parseWhole(const char* str, T& dest) {
    size_t position = 0;
    dest = parse<T>(str, position);
    if (position != 0 && position == std::strlen(str))
        return true;
    std::fprintf(stderr, "Couldn't parse \"%s\".\n", str);
    return false;
}
} // namespace

template <> bool parseOrDie<bool>(const char* str, bool& dest) {
    return parseWhole(str, dest);
}
template <> bool parseOrDie<int>(const char* str, int& dest) {
    return parseWhole(str, dest);
}
template <> bool parseOrDie<float>(const char* str, float& dest) {
    return parseWhole(str, dest);
}
template <> bool parseOrDie<unsigned int>(const char* str, unsigned int& dest) {
    // A count typed as -1 must not become 4294967295.
    if (std::strchr(str, '-')) {
        dest = 0;
        std::fprintf(stderr, "Couldn't parse \"%s\".\n", str);
        return false;
    }
    return parseWhole(str, dest);
}

} // namespace brenlo::string
