#include "brenlo/exception.hpp"
#include "brenlo/string.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

using namespace brenlo;
using namespace brenlo::string;

namespace {

std::string format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string s = vstrprintf(fmt, args);
    va_end(args);
    return s;
}

template <class T> bool accepts(const char* text, T& value) {
    testing::internal::CaptureStderr();
    bool ok = parseOrDie<T>(text, value);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, ok ? "" : std::string("Couldn't parse \"") + text + "\".\n");
    return ok;
}

template <class T> bool accepts(const char* text) {
    T value;
    return accepts<T>(text, value);
}

} // namespace

TEST(Exceptions, MessagesAndHierarchy) {
    EXPECT_STREQ(Exception().what(), "");
    IOException io = exceptf<IOException>("Missing cell at position %d.\n", 1);
    EXPECT_EQ(io.why(), "Missing cell at position 1.\n");
    try {
        throw io;
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Missing cell at position 1.\n");
    }
    EXPECT_THROW(throw AlreadyExistsException("x"), UnsupportedOperationException);
    EXPECT_THROW(throw NotFoundException("x"), AccessException);
    EXPECT_THROW(throw AllocationException("x"), std::exception);
}

TEST(Formatting, ConversionsAndLongTexts) {
    EXPECT_EQ(strprintf("%s=%d!", "n", 42), "n=42!");
    EXPECT_EQ(strprintf("plain"), "plain");
    std::string big(5000, 'x');
    EXPECT_EQ(strprintf("<%s>", big.c_str()), "<" + big + ">");
    EXPECT_EQ(format("%05.1f", 2.25), "002.2");
    // An encoding error gives an empty text rather than garbage.
    const wchar_t bad[] = {static_cast<wchar_t>(0xD800), 0};
    EXPECT_EQ(strprintf("%ls", bad), "");
}

TEST(Alphabet, SortingAndMatching) {
    Alphabet sorted("cbac", false);
    ASSERT_EQ(sorted.size(), 3u);
    EXPECT_EQ(sorted[0], 'a');
    EXPECT_EQ(sorted[2], 'c');
    Alphabet verbatim("cbac", true);
    EXPECT_EQ(verbatim.size(), 4u);
    Alphabet gaps("aeim", false);
    for (char c : {'a', 'e', 'i', 'm'})
        EXPECT_TRUE(gaps.match(c));
    for (char c : {'b', 'f', 'z', '\0', ' '})
        EXPECT_FALSE(gaps.match(c));
    EXPECT_FALSE(Alphabet("", false).match('a'));
    EXPECT_TRUE(Alphabet("", false).empty());
    EXPECT_EQ(Alphabet::WHITESPACE.size(), 4u);
    EXPECT_EQ(Alphabet::WHITESPACE[0], '\t');
    EXPECT_EQ(Alphabet::WHITESPACE[3], ' ');
    EXPECT_EQ(gaps.nextMismatch("aeXm", 0), 2u);
    EXPECT_EQ(gaps.nextMismatch(std::string("aem"), 0), std::string::npos);
    Alphabet high("\xff\x80 a", false);
    EXPECT_TRUE(high.match('\xff'));
    EXPECT_TRUE(high.match('a'));
}

TEST(Trim, KeepsWhatIsOutsideTheSet) {
    EXPECT_EQ(trim("x"), "x");
    EXPECT_EQ(trim("  x \t"), "x");
    EXPECT_EQ(trim(" \r\n\t "), "");
    EXPECT_EQ(trim(""), "");
    EXPECT_EQ(trim("a b"), "a b");
    EXPECT_EQ(ltrim("  a "), "a ");
    EXPECT_EQ(rtrim("  a "), "  a");
    EXPECT_EQ(trim("--a-b--", "-"), "a-b");
    EXPECT_EQ(trim("xxaxx", Alphabet("x", false)), "a");
    EXPECT_EQ(trim(" a ", WHITESPACE), "a");
}

TEST(TextFunctions, SearchesAndComparisons) {
    EXPECT_EQ(substrRange("abcdef", 1, 3), "bc");
    EXPECT_EQ(substrRange("abc", 2, 2), "");
    EXPECT_THROW(substrRange("abc", 5, 6), std::out_of_range);
    EXPECT_EQ(indexOf("abcabc", 'c', 3), 5u);
    EXPECT_EQ(indexOf("abc", 'c', 7), std::string::npos);
    EXPECT_EQ(indexOf("abc", '\0', 0), std::string::npos);
    EXPECT_EQ(lastIndexOf("abcabc", "bc", 100), 4u);
    EXPECT_EQ(lastIndexOf("abcabc", "bc", 3), 1u);
    EXPECT_EQ(lastIndexOf("abc", "x", 3), std::string::npos);
    EXPECT_EQ(strcmpi("Hello", "hELLO"), 0);
    EXPECT_LT(strcmpi("abc", "abcd"), 0);
    EXPECT_GT(strcmpi("b", "A"), 0);
    size_t i = 7;
    EXPECT_TRUE(startsWith("Infinity", "inf", i, true));
    EXPECT_FALSE(startsWith("Infinity", "inf", i, false));
    EXPECT_TRUE(startsWith("x", "", i, false));
    EXPECT_FALSE(startsWith("in", "inf", i, false));
    const char* keys[] = {"no", "ye"};
    EXPECT_TRUE(startsWithAny("yes", keys, 2, i, false));
    EXPECT_FALSE(startsWithAny("yes", keys, 1, i, false));
    EXPECT_EQ(i, 7u);
}

TEST(ParseIntegers, AcceptAndRejectLists) {
    int v = -1;
    EXPECT_TRUE(accepts<int>("42", v));
    EXPECT_EQ(v, 42);
    EXPECT_TRUE(accepts<int>("-7", v));
    EXPECT_EQ(v, -7);
    EXPECT_TRUE(accepts<int>("+3", v));
    EXPECT_EQ(v, 3);
    EXPECT_TRUE(accepts<int>("-", v));
    EXPECT_EQ(v, 0);
    EXPECT_TRUE(accepts<int>("2147483647"));
    for (const char* bad : {"", "4x", "2147483648", "-2147483648", " 1", "0x10"})
        EXPECT_FALSE(accepts<int>(bad)) << bad;

    unsigned int u = 0;
    EXPECT_TRUE(accepts<unsigned int>("4294967295", u));
    EXPECT_EQ(u, 4294967295u);
    for (const char* bad : {"4294967296", "9999999999", "-1", "-0", "12345678901234567890"})
        EXPECT_FALSE(accepts<unsigned int>(bad)) << bad;
}

TEST(ParseIntegers, PositionMovesOnlyOnSuccess) {
    size_t i = 2;
    EXPECT_EQ(parse<int>("xx123abc", i), 123);
    EXPECT_EQ(i, 5u);
    i = 0;
    EXPECT_EQ(parse<unsigned int>("9999999999", i), 0u);
    EXPECT_EQ(i, 0u);
    EXPECT_EQ(parse<unsigned int>("4294967296", i), 0u);
    EXPECT_EQ(i, 0u);
    EXPECT_EQ(parse<unsigned int>("-1", i), 4294967295u); // wraps; only parseOrDie refuses
    EXPECT_EQ(i, 2u);
    i = 0;
    EXPECT_EQ(parse<unsigned long>("18446744073709551615", i), 18446744073709551615ul);
    i = 0;
    EXPECT_EQ(parse<long long>("-9223372036854775807", i), -9223372036854775807ll);
    i = 0;
    EXPECT_EQ(parse<short>("32768", i), 0);
    EXPECT_EQ(i, 0u);
    EXPECT_EQ(parse<unsigned int>(std::string("12x")), 12u);
    EXPECT_EQ(parse<unsigned int>(std::string("x")), 0u);
}

TEST(ParseReals, SyntaxOfTheFloatForms) {
    float f = 0;
    EXPECT_TRUE(accepts<float>("1.5", f));
    EXPECT_EQ(f, 1.5f);
    EXPECT_TRUE(accepts<float>(".5", f));
    EXPECT_EQ(f, 0.5f);
    EXPECT_TRUE(accepts<float>("1e3", f));
    EXPECT_EQ(f, 1000.0f);
    EXPECT_TRUE(accepts<float>("e3", f));
    EXPECT_EQ(f, 1000.0f);
    EXPECT_TRUE(accepts<float>("1.5E-2", f));
    EXPECT_EQ(f, 0.015f);
    EXPECT_TRUE(accepts<float>("5.e2", f));
    EXPECT_EQ(f, 500.0f);
    for (const char* inf : {"inf", "INF", "Infinity", "-inf", "+infinity", "infxyz"}) {
        EXPECT_TRUE(accepts<float>(inf, f)) << inf;
        EXPECT_TRUE(std::isinf(f));
    }
    EXPECT_TRUE(accepts<float>("-inf", f));
    EXPECT_LT(f, 0);
    for (const char* nan : {"nan", "NaN", "-nan"}) {
        EXPECT_TRUE(accepts<float>(nan, f)) << nan;
        EXPECT_TRUE(std::isnan(f));
    }
    for (const char* bad : {"5.", "1e", "", ".", "nanx", "in", "1.5x", "--1"})
        EXPECT_FALSE(accepts<float>(bad)) << bad;
}

TEST(ParseReals, ConsumedLengthAndUnmovedPosition) {
    struct {
        const char* text;
        size_t consumed;
    } cases[] = {{"1.5abc", 3}, {"-", 1},     {"5.x", 2},           {"1ex", 2}, {"1e+", 3},
                 {"nanx", 0},   {"+nanx", 1}, {"1e99999999999", 2}, {"x", 0},   {".", 0}};
    for (const auto& c : cases) {
        size_t i = 0;
        parse<double>(c.text, i);
        EXPECT_EQ(i, c.consumed) << c.text;
    }
    size_t i = 0;
    EXPECT_EQ(parse<double>("-.", i), 0.0);
    EXPECT_EQ(i, 0u);
}

TEST(ParseReals, CorrectlyRoundedLikeStrtod) {
    EXPECT_EQ(parse<double>(std::string("0.3")), 0.3);
    EXPECT_EQ(parse<double>(std::string("0.333333")), 0.333333);
    EXPECT_EQ(parse<double>(std::string("1e-05")), 1e-05);
    EXPECT_EQ(parse<float>(std::string("0.1")), 0.1f);
    std::mt19937_64 rng(42);
    for (int k = 0; k < 20000; ++k) {
        std::string text = std::to_string(rng() % 100000);
        if (rng() % 2)
            text += "." + std::to_string(rng() % 10000000);
        if (rng() % 3 == 0)
            text += "e" + std::to_string(static_cast<int>(rng() % 600) - 300);
        if (rng() % 4 == 0)
            text = "-" + text;
        size_t i = 0;
        double mine = parse<double>(text.c_str(), i);
        EXPECT_EQ(i, text.size()) << text;
        EXPECT_EQ(mine, std::strtod(text.c_str(), nullptr)) << text;
        float f = parse<float>(std::string(text));
        EXPECT_EQ(f, std::strtof(text.c_str(), nullptr)) << text;
    }
}

TEST(ParseBool, KeywordsAndSingleLetters) {
    bool b = false;
    for (const char* yes : {"true", "TRUE", "Yes", "t", "Y"}) {
        EXPECT_TRUE(accepts<bool>(yes, b)) << yes;
        EXPECT_TRUE(b);
    }
    for (const char* no : {"false", "No", "f", "N", "FALSE"}) {
        EXPECT_TRUE(accepts<bool>(no, b)) << no;
        EXPECT_FALSE(b);
    }
    for (const char* bad : {"truex", "yess", "x", "", "1", "tr"})
        EXPECT_FALSE(accepts<bool>(bad)) << bad;
}
