#include "brenlo/table.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

using namespace brenlo::io;

namespace {

typedef std::vector<std::vector<std::string>> Rows;

Rows rows(const std::string& text, char delim = ',') {
    DelimitedRowParser p = DelimitedRowParser::createRFC4180(delim, nullptr);
    p.openFromString(text);
    Rows out;
    while (p.hasRow()) {
        std::vector<std::string> row;
        while (p.hasCell())
            row.push_back(p.nextCell());
        out.push_back(row);
    }
    return out;
}

} // namespace

TEST(RowParser, CellsAndRows) {
    EXPECT_EQ(rows("a,b\nc,d\n"), (Rows{{"a", "b"}, {"c", "d"}}));
    EXPECT_EQ(rows("a,,b\n"), (Rows{{"a", "", "b"}}));
    EXPECT_EQ(rows("a,\n"), (Rows{{"a", ""}}));
    EXPECT_EQ(rows("\n"), (Rows{{}}));
    EXPECT_EQ(rows("a"), (Rows{{"a"}}));
    EXPECT_EQ(rows("a, b\tc\n", '\t'), (Rows{{"a, b", "c"}}));
}

TEST(RowParser, LeadingDelimiterIsAnEmptyCell) {
    EXPECT_EQ(rows(",b\n"), (Rows{{"", "b"}}));
    EXPECT_EQ(rows(",\n,,x\n"), (Rows{{"", ""}, {"", "", "x"}}));
}

TEST(RowParser, Quoting) {
    EXPECT_EQ(rows("\"x,y\",z\n"), (Rows{{"x,y", "z"}}));
    EXPECT_EQ(rows("\"a\"\"b\"\n"), (Rows{{"a\"b"}}));
    EXPECT_EQ(rows("\"ab\"\"\"\n"), (Rows{{"ab\""}}));
    EXPECT_EQ(rows("\"ab\"cd,e\n"), (Rows{{"\"ab\"cd", "e"}}));
    EXPECT_EQ(rows("a\"b,c\n"), (Rows{{"a\"b", "c"}}));
}

TEST(RowParser, AQuoteNeverClosedIsAnErrorNamingItsLine) {
    auto error = [](const std::string& text) {
        try {
            rows(text);
        } catch (const brenlo::IOException& e) {
            return std::string(e.what());
        }
        return std::string("(no error)");
    };
    EXPECT_EQ(error("\"abc"), "A quoted cell opened on line 1 is never closed.");
    // The rest of the data is not swallowed into one cell: the error names
    // where the stray quote opened, not where the data ends.
    EXPECT_EQ(error("a,b\nc,\"d\ne,f\ng,h\n"), "A quoted cell opened on line 2 is never closed.");
    EXPECT_EQ(error("\"x\ny\",\"z\n"), "A quoted cell opened on line 2 is never closed.");
    // A quote inside an unquoted cell stays text.
    EXPECT_EQ(error("a\"b,c\nd\n"), "(no error)");
}

TEST(RowParser, WindowsAndOldMacLineEnds) {
    EXPECT_EQ(rows("a,b\r\nc,d\r\n"), (Rows{{"a", "b"}, {"c", "d"}}));
    EXPECT_EQ(rows("a\r\nb,c\n"), (Rows{{"a"}, {"b", "c"}}));
    EXPECT_EQ(rows("a,b\rc\r"), (Rows{{"a", "b"}, {"c"}}));
    // Inside quotes every line end stays exactly as written.
    EXPECT_EQ(rows("\"x\r\ny\",\"p\rq\",\"m\nn\"\r\n"), (Rows{{"x\r\ny", "p\rq", "m\nn"}}));
}

TEST(RowParser, HighBytesAreData) {
    EXPECT_EQ(rows("caf\xe9,\xff\xfe\nz\n"), (Rows{{"caf\xe9", "\xff\xfe"}, {"z"}}));
    EXPECT_EQ(rows("a\xff"
                   "b\n",
                   '\xff'),
              (Rows{{"a", "b"}}));
}

TEST(RowParser, SourcesAndFactories) {
    std::istringstream in("p;q\n");
    DelimitedRowParser p = DelimitedRowParser::createRFC4180(in, ';', nullptr);
    ASSERT_TRUE(p.hasRow());
    ASSERT_TRUE(p.hasCell());
    EXPECT_EQ(p.nextCell(), "p");
    ASSERT_TRUE(p.hasCell());
    EXPECT_EQ(p.nextCell(), "q");
    EXPECT_FALSE(p.hasCell());
    EXPECT_FALSE(p.hasRow());

    DelimitedRowParser e = DelimitedRowParser::createEscaped(',', "'", '\\', '#');
    e.openFromString("'a,b',c\n");
    ASSERT_TRUE(e.hasCell());
    EXPECT_EQ(e.nextCell(), "a,b");

    DelimitedRowParser d(Device::wrapString("u|v\n", 0, std::string::npos), '|', nullptr, '\0');
    ASSERT_TRUE(d.hasCell());
    EXPECT_EQ(d.nextCell(), "u");
    ASSERT_TRUE(d.hasCell());
    EXPECT_EQ(d.nextCell(), "v");
}

TEST(RowFormat, QuoteUnquoteAndWriteCell) {
    RFC4180DelimitedRowFormat f(',', nullptr);
    EXPECT_EQ(f.quote("a\"b"), "\"a\"\"b\"");
    EXPECT_EQ(f.unquote("\"a\"\"b\""), "a\"b");
    EXPECT_EQ(f.unquote("x"), "x");
    EXPECT_EQ(f.unquote("'ab'"), "'ab'");
    EXPECT_EQ(f.defaultQuote(), '"');
    EXPECT_EQ(f.ensureQuote('\''), '\'');
    std::ostringstream out;
    TextWriter w(out);
    f.writeCell(w, "a", false);
    f.writeDelim(w);
    f.writeCell(w, "a", true);
    EXPECT_EQ(out.str(), "\"a\",a");
    RFC4180DelimitedRowFormat none('\t', "");
    EXPECT_EQ(none.quote("q"), "q");
}
