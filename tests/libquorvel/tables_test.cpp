#include "brenlo/exception.hpp"
#include "quorvel/rule.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <sstream>

using namespace quorvel::rule;
using brenlo::string::parse;
using testsupport::set;
using testsupport::transactions;

namespace {

// Reader errors of the rule model are thrown as pointers; returns the message.
template <class F> std::string pointerError(F f) {
    try {
        f();
    } catch (brenlo::IOException* e) {
        std::unique_ptr<brenlo::IOException> owned(e);
        return e->why();
    }
    return "(no error)";
}

template <class F> std::string valueError(F f) {
    try {
        f();
    } catch (const brenlo::IOException& e) {
        return e.why();
    }
    return "(no error)";
}

RuleSet readRules(const std::string& text) {
    RuleSet rules;
    std::istringstream in(text);
    rules.readInto(in, '\t');
    return rules;
}

const char* const HEADER =
    "Rule\tCount\tA union S\tSupport\tConfidence\tLift\tConviction\tProbability\tCertainty\n";

} // namespace

TEST(ParseItemSet, BracesAreOptionalAndBlanksIgnored) {
    EXPECT_EQ(parse<ItemSet>(""), set({}));
    EXPECT_EQ(parse<ItemSet>("   "), set({}));
    EXPECT_EQ(parse<ItemSet>("{}"), set({}));
    EXPECT_EQ(parse<ItemSet>("{ }"), set({}));
    EXPECT_EQ(parse<ItemSet>("a"), set({"a"}));
    EXPECT_EQ(parse<ItemSet>(" a , b "), set({"a", "b"}));
    EXPECT_EQ(parse<ItemSet>("{ b , a }"), set({"a", "b"}));
    EXPECT_EQ(parse<ItemSet>("a,,b"), set({"a", "", "b"}));
    EXPECT_EQ(parse<ItemSet>("x{y}"), set({"x{y}"}));
    EXPECT_EQ(parse<ItemSet>("a,b\nc"), set({"a", "b"}));
    EXPECT_EQ(pointerError([] { parse<ItemSet>("{a"); }),
              "Missing trailing brace ('{') in braced form.");
    EXPECT_EQ(pointerError([] { parse<ItemSet>("{"); }),
              "Missing trailing brace ('{') in braced form.");
}

TEST(ParseItemSet, QuotedElementsKeepTheirInside) {
    EXPECT_EQ(parse<ItemSet>("{\"a,b\", c}"), set({"a,b", "c"}));
    EXPECT_EQ(parse<ItemSet>("  \" pad \"  "), set({" pad "}));
    EXPECT_EQ(parse<ItemSet>("\"say \"\"hi\"\"\""), set({"say \"hi\""}));
    EXPECT_EQ(parse<ItemSet>("\"\""), set({""}));
}

TEST(ParseRule, SplitsAtTheFirstOperatorOutsideQuotes) {
    EXPECT_EQ(parse<Rule>("a => b"), Rule(set({"a"}), set({"b"})));
    EXPECT_EQ(parse<Rule>("{a, b}=>d"), Rule(set({"a", "b"}), set({"d"})));
    EXPECT_EQ(parse<Rule>("=> b"), Rule(set({}), set({"b"})));
    EXPECT_EQ(parse<Rule>("a => b => d"), Rule(set({"a"}), set({"b => d"})));
    EXPECT_EQ(parse<Rule>("\"x=>y\" => z"), Rule(set({"x=>y"}), set({"z"})));
    EXPECT_EQ(pointerError([] { parse<Rule>("a -> b"); }),
              "Missing => operator for rule in \"a -> b\".");
}

TEST(RuleTable, WritesTheDocumentedRow) {
    RuleSet rules;
    RuleSet::Stats& s = rules[Rule(set({"a"}), set({"b"}))];
    s.count = 3;
    s.icount = 3;
    s.support = 0.5;
    s.confidence = 1;
    s.lift = 1.5;
    s.conviction = std::numeric_limits<double>::infinity();
    s.probability = 0.75;
    s.certainty = 3;
    std::ostringstream out;
    testing::internal::CaptureStderr();
    rules.write(out);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "1\n");
    EXPECT_EQ(out.str(), std::string(HEADER) + "a => b\t3\t3\t0.5\t1\t1.5\tinf\t0.75\t3\n");
}

TEST(RuleTable, RoundTripsRulesWhoseItemsNeedQuoting) {
    const char* names[] = {"plain",  "a,b", "say \"hi\"",  "tab\there", "x => y", " blank",
                           "{brace", "",    "line\nbreak", "cr\rhere",  "\"lead"};
    RuleSet rules;
    size_t n = 0;
    for (const char* a : names)
        for (const char* b : names) {
            if (std::string(a) == b)
                continue;
            RuleSet::Stats& s = rules[Rule(set({a, "z"}), set({b}))];
            s.count = ++n;
            s.icount = n + 1;
            s.support = 1.0 / static_cast<double>(n);
            s.conviction = std::numeric_limits<double>::infinity();
            s.certainty = -0.25;
        }
    std::ostringstream out;
    testing::internal::CaptureStderr();
    rules.write(out);
    testing::internal::GetCapturedStderr();
    RuleSet back = readRules(out.str());
    ASSERT_EQ(back.size(), rules.size());
    auto it = back.begin();
    for (const auto& entry : rules) {
        EXPECT_EQ(it->first, entry.first) << entry.first.toString();
        EXPECT_EQ(it->second.count, entry.second.count);
        EXPECT_EQ(it->second.icount, entry.second.icount);
        EXPECT_NEAR(it->second.support, entry.second.support, 5e-6 * entry.second.support);
        EXPECT_TRUE(std::isinf(it->second.conviction));
        EXPECT_EQ(it->second.certainty, -0.25);
        ++it;
    }
}

TEST(RuleTable, ReaderSkipsBlankLinesAndKeepsTheLastDuplicate) {
    RuleSet rules =
        readRules(std::string(HEADER) + "a => b\t1\t2\t0.1\t0.2\t0.3\t0.4\t0.5\t0.6\n\n" +
                  "a => b\t7\t8\t1\t1\t1\tinf\tnan\t-inf\n");
    ASSERT_EQ(rules.size(), 1u);
    const RuleSet::Stats& s = rules.at(Rule(set({"a"}), set({"b"})));
    EXPECT_EQ(s.count, 7u);
    EXPECT_TRUE(std::isnan(s.probability));
    EXPECT_TRUE(std::isinf(s.certainty) && s.certainty < 0);

    RuleSet lost = readRules("a => b\t1\t2\t0.1\t0.2\t0.3\t0.4\t0.5\t0.6\n");
    EXPECT_EQ(lost.size(), 0u);

    RuleSet replaced =
        readRules(std::string(HEADER) + "a => b\t1\t2\t0.1\t0.2\t0.3\t0.4\t0.5\t0.6\n");
    std::istringstream headerOnly(HEADER);
    replaced.readInto(headerOnly, '\t');
    EXPECT_EQ(replaced.size(), 0u);
}

TEST(RuleTable, HeaderEndsAtAnyLineEnd) {
    EXPECT_EQ(readRules("Rule\tCount\r\na => b\t1\t2\t0.1\t0.2\t0.3\t0.4\t0.5\t0.6\r\n").size(),
              1u);
    EXPECT_EQ(readRules("Rule\tCount\ra => b\t1\t2\t0.1\t0.2\t0.3\t0.4\t0.5\t0.6\rb => "
                        "a\t1\t2\t0.1\t0.2\t0.3\t0.4\t0.5\t0.6\r")
                  .size(),
              2u);
}

TEST(RuleTable, MalformedRowsRaiseWithTheirColumnAndLine) {
    const std::string row = "a => b\t1\t2\t0.1\t0.2\t0.3\t0.4\t0.5";
    EXPECT_EQ(pointerError([&] { readRules(std::string(HEADER) + "a => b\n"); }),
              "line 2: \"Count\" at column 2 is missing.");
    EXPECT_EQ(pointerError([&] { readRules(std::string(HEADER) + row + "\n"); }),
              "line 2: \"Certainty\" at column 9 is missing.");
    EXPECT_EQ(pointerError([&] { readRules(std::string(HEADER) + row + "\t0.6\t\n"); }),
              "line 2: Excess cells in row.");
    EXPECT_EQ(pointerError([&] { readRules(std::string(HEADER) + "a -> b\t1\n"); }),
              "line 2: Missing => operator for rule in \"a -> b\".");

    RuleSet partial;
    std::istringstream in(std::string(HEADER) + row + "\t0.6\n\nb => a\t1\n");
    EXPECT_EQ(pointerError([&] { partial.readInto(in, '\t', "rules.tsv"); }),
              "rules.tsv:4: \"A union S\" at column 3 is missing.");
    EXPECT_EQ(partial.size(), 1u);
}

TEST(RuleTable, BlankLinesAndUnclosedQuotes) {
    const std::string row = "a => b\t1\t2\t0.1\t0.2\t0.3\t0.4\t0.5\t0.6";
    EXPECT_EQ(readRules(std::string(HEADER) + "\n" + row + "\n\r\n\n").size(), 1u);
    EXPECT_EQ(readRules(std::string(HEADER) + row + "\r\n\r\n").size(), 1u);
    RuleSet rules;
    std::istringstream in(std::string(HEADER) + row + "\n\"c => d\t1\n" + row + "\n");
    EXPECT_EQ(valueError([&] { rules.readInto(in, '\t', "r.tsv"); }),
              "r.tsv:3: A quoted cell is never closed: its quote opens here.");
}

TEST(RuleTable, NumberCellsMustBeWholeNumbers) {
    auto withCell = [](int column, const std::string& cell) {
        std::string cells[9] = {"a => b", "1", "2", "0.1", "0.2", "0.3", "0.4", "0.5", "0.6"};
        cells[column - 1] = cell;
        std::string row;
        for (int k = 0; k < 9; ++k)
            row += (k ? "\t" : "") + cells[k];
        return pointerError([&] { readRules(std::string(HEADER) + row + "\n"); });
    };
    EXPECT_EQ(withCell(4, "0.5x"), "line 2: \"Support\" at column 4 is not a number: \"0.5x\".");
    EXPECT_EQ(withCell(7, "infx"), "line 2: \"Conviction\" at column 7 is not a number: \"infx\".");
    EXPECT_EQ(withCell(9, ""), "line 2: \"Certainty\" at column 9 is not a number: \"\".");
    EXPECT_EQ(withCell(2, "-1"), "line 2: \"Count\" at column 2 is not a whole number: \"-1\".");
    EXPECT_EQ(withCell(3, "18446744073709551616"),
              "line 2: \"A union S\" at column 3 is not a whole number: "
              "\"18446744073709551616\".");
    EXPECT_EQ(withCell(3, "18446744073709551615"), "(no error)");
    for (const char* ok : {"-INF", "Infinity", "+nan", "1e-05", "-2.5E+3", "7", "0.25"})
        EXPECT_EQ(withCell(5, ok), "(no error)") << ok;
    for (const char* bad : {".", "e5", "1e", "0x10", " 1", "1 ", "1.2.3"})
        EXPECT_NE(withCell(5, bad), "(no error)") << bad;
}

TEST(RuleTable, MissingFileIsAnErrorNamingIt) {
    RuleSet rules;
    std::string message = valueError([&] { rules.readInto("/nonexistent/rules.tsv", '\t'); });
    EXPECT_EQ(message, "Cannot open \"/nonexistent/rules.tsv\": No such file or directory");
}

TEST(ItemSetTable, WritesInItemSetOrderAndReadsBack) {
    ItemSetHistogram h;
    h.add(set({"a", "b"}), 2);
    h.add(set({"a"}), 3);
    h.add(set({"tab\there", "x"}), 4);
    std::ostringstream out;
    h.write(out);
    EXPECT_EQ(out.str(), "Count\tItem Set\n2\t{a,b}\n3\t{a}\n4\t\"{\"\"tab\there\"\",x}\"\n");
    ItemSetHistogram back;
    std::istringstream in(out.str());
    back.readInto(in, '\t');
    ASSERT_EQ(back.size(), 3u);
    EXPECT_EQ(back.at(set({"tab\there", "x"})), 4u);
    EXPECT_EQ(back.at(set({"a", "b"})), 2u);
}

TEST(ItemSetTable, BlankLinesSkippedAndErrorsLocated) {
    ItemSetHistogram h;
    std::istringstream blank("Count\tItem Set\n\n2\t{a,b}\r\n\r\n3\t{a}\n\n");
    h.readInto(blank, '\t');
    EXPECT_EQ(h.size(), 2u);
    std::istringstream bad("Count\tItem Set\n2\t{a,b}\n\nx\t{a}\n");
    EXPECT_EQ(pointerError([&] { h.readInto(bad, '\t', "sets.tsv"); }),
              "sets.tsv:4: \"Count\" at column 1 is not a whole number: \"x\".");
    std::istringstream unclosed("Count\tItem Set\n2\t\"{a,b}\n3\t{a}\n");
    EXPECT_EQ(valueError([&] { h.readInto(unclosed, '\t', "sets.tsv"); }),
              "sets.tsv:2: A quoted cell is never closed: its quote opens here.");
}

TEST(Tables, AFolderIsNotATable) {
    testsupport::TempDir dir;
    const std::string expected = "Cannot open \"" + dir.path() + "\": Is a directory";
    EXPECT_EQ(valueError([&] { RuleSet().readInto(dir.path(), '\t'); }), expected);
    EXPECT_EQ(valueError([&] { TransactionSet().readInto(dir.path(), '\t'); }), expected);
    EXPECT_EQ(valueError([&] { ItemSetHistogram().readInto(dir.path(), '\t'); }), expected);
}

TEST(TransactionTable, RowsUniteIntoTransactions) {
    TransactionSet txns = transactions("any header\n"
                                       "s1\t5\ta\tb\ns1\t5\td\n"
                                       "s1\t7\n"
                                       "s2\t7\ta\t\tb\n"
                                       "s3\t1\t a\ts3\t1\tA\n");
    EXPECT_EQ(txns.size(), 3u);
    EXPECT_EQ(txns.transactionCount(), 4u);
    auto s1 = txns.begin()->second;
    EXPECT_EQ(s1.at(5), set({"a", "b", "d"}));
    EXPECT_EQ(s1.at(7), set({}));
    EXPECT_EQ((++txns.begin())->second.at(7), set({"a", "b"}));
    EXPECT_EQ(txns.count(set({" a", "A", "a"})), 0u);
    EXPECT_EQ(txns.count(set({" a", "A"})), 1u);

    TransactionSet twice = transactions("h\nx\t1\ta\n");
    std::istringstream more("h\ny\t2\tb\nx\t3\tc\n");
    twice.readInto(more, '\t');
    EXPECT_EQ(twice.size(), 2u);
    EXPECT_EQ(twice.transactionCount(), 3u);
    EXPECT_EQ(transactions("only a header\n").size(), 0u);
    EXPECT_EQ(transactions("").size(), 0u);
}

TEST(TransactionTable, LineEndsOfEveryKindAndQuotedCells) {
    TransactionSet crlf = transactions("h\r\ns1\t1\ta\r\ns1\t2\tb\r\n");
    EXPECT_EQ(crlf.transactionCount(), 2u);
    EXPECT_EQ(crlf.begin()->second.at(1), set({"a"}));
    TransactionSet cr = transactions("h\rs1\t1\ta\rs2\t2\tb\r");
    EXPECT_EQ(cr.size(), 2u);
    TransactionSet quoted = transactions("h\ns1\t1\t\"a\tb\"\t\"x\r\ny\"\n");
    EXPECT_EQ(quoted.begin()->second.at(1), set({"a\tb", "x\r\ny"}));
    TransactionSet latin1 = transactions("h\ns1\t1\tcaf\xe9\xff\ns2\t2\tb\n");
    EXPECT_EQ(latin1.size(), 2u);
    EXPECT_TRUE(latin1.begin()->second.at(1).contains(std::string("caf\xe9\xff")));
}

TEST(TransactionTable, MissingCellsAndBadTimes) {
    // Blank lines, which many exporters write at the end, are no rows.
    EXPECT_EQ(transactions("h\ns1\t1\ta\n\ns1\t2\tb\n\n").begin()->second.size(), 2u);
    EXPECT_EQ(transactions("h\r\ns1\t1\ta\r\n\r\n").size(), 1u);
    EXPECT_EQ(transactions("h\n\n\n").size(), 0u);
    EXPECT_EQ(valueError([] { transactions("h\ns1\n"); }), "line 2: Missing cell at position 1.");
    EXPECT_EQ(valueError([] { transactions("h\n\ns1\t1\ta\n\ts2\n"); }),
              "line 4: Invalid time \"s2\": a time is a whole number from 0 to 4294967295.");
    EXPECT_EQ(valueError([] { transactions("h\ns1\t1\ta\n"); }), "(no error)");
    EXPECT_EQ(valueError([] { transactions("h\ns1\t1\ns1\t2024-01-05\ta\n"); }),
              "line 3: Invalid time \"2024-01-05\": a time is a whole number from 0 to "
              "4294967295.");
    // One stray quote no longer swallows every following row into one item.
    TransactionSet swallowed;
    std::istringstream stray("h\ns1\t1\ta\ns2\t1\t\"b\ns3\t1\tc\ns4\t1\td\n");
    EXPECT_EQ(valueError([&] { swallowed.readInto(stray, '\t', "standard input"); }),
              "standard input:3: A quoted cell is never closed: its quote opens here.");
    for (const char* bad : {"12x", "x", "", "-5", "4294967296", "+1", " 1"})
        EXPECT_NE(valueError([&] { transactions(std::string("h\ns\t") + bad + "\ta\n"); }),
                  "(no error)")
            << bad;
    TransactionSet max = transactions("h\ns\t4294967295\ta\n");
    EXPECT_TRUE(max.begin()->second.contains(4294967295u));

    TransactionSet partial;
    std::istringstream in("h\ns1\t1\ta\ns2\n");
    EXPECT_THROW(partial.readInto(in, '\t'), brenlo::IOException);
    EXPECT_EQ(partial.size(), 1u);
}
