#include "harnesses.hpp"
#include "harness_support.hpp"

#include "quorvel/formats.hpp"

#include "../../src/ingest/ingest.hpp"
#include "../../src/ingest/xes.hpp"
#include "../../src/quorvel-links/options.hpp"
#include "../../src/quorvel-rules/options.hpp"
#include "brenlo/cmdline.hpp"
#include "brenlo/compressed.hpp"
#include "brenlo/exception.hpp"
#include "brenlo/string.hpp"
#include "brenlo/table.hpp"
#include "quorvel/rule.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <vector>
#include <zlib.h>

namespace fuzz {

using namespace quorvel::rule;

int rows(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const char delim = data[0] & 1 ? '\t' : ',';
    std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    brenlo::io::DelimitedRowParser p =
        brenlo::io::DelimitedRowParser::createRFC4180(delim, nullptr);
    p.openFromString(text);
    size_t delimiters = 0, rowCount = 0, cells = 0, bytes = 0;
    for (char c : text)
        delimiters += c == delim;
    try {
        while (p.hasRow()) {
            ++rowCount;
            check(rowCount <= text.size() + 1, "more rows than bytes");
            while (p.hasCell()) {
                bytes += p.nextCell().size();
                ++cells;
                check(cells <= delimiters + rowCount,
                      "more cells than delimiters plus one per row");
            }
        }
    } catch (const brenlo::IOException&) {
        // Only a quote left open ends the data in an error.
        check(text.find('"') != std::string::npos, "an error without a quote to blame");
        return 0;
    }
    check(bytes <= text.size(), "cells hold more bytes than the input");
    return 0;
}

int values(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    const char* s = text.c_str(); // stops at the first NUL, as C callers do
    const size_t len = std::strlen(s);

    size_t i = 0;
    unsigned int u = brenlo::string::parse<unsigned int>(s, i);
    check(i <= len, "integer read past the end");
    if (i == 0) {
        check(u == 0, "integer failure with a value");
    } else {
        // What was read is an optional sign and digits, and means what strtoul says.
        size_t k = s[0] == '+' || s[0] == '-' ? 1 : 0;
        for (; k < i; ++k)
            check(s[k] >= '0' && s[k] <= '9', "integer consumed a non-digit");
        std::string read(s, i);
        unsigned long long expect = std::strtoull(read.c_str(), nullptr, 10);
        check(u == static_cast<unsigned int>(expect), "integer value differs from strtoull");
    }

    i = 0;
    double d = brenlo::string::parse<double>(s, i);
    check(i <= len, "real read past the end");
    if (i == 0)
        check(d == 0, "real failure with a value");
    // Plain decimal texts read exactly as strtod reads them.
    std::string read(s, i);
    size_t k = read.size() && (read[0] == '+' || read[0] == '-') ? 1 : 0;
    size_t digits = 0;
    while (k < read.size() && std::isdigit(static_cast<unsigned char>(read[k])))
        ++k, ++digits;
    if (k < read.size() && read[k] == '.') {
        size_t before = ++k;
        while (k < read.size() && std::isdigit(static_cast<unsigned char>(read[k])))
            ++k;
        if (k == before)
            digits = 0;
    }
    if (digits && k < read.size() && (read[k] == 'e' || read[k] == 'E')) {
        size_t e = ++k;
        if (k < read.size() && (read[k] == '+' || read[k] == '-'))
            ++k;
        size_t expDigits = 0;
        while (k < read.size() && std::isdigit(static_cast<unsigned char>(read[k])))
            ++k, ++expDigits;
        if (expDigits == 0 || expDigits > 9)
            digits = 0;
        (void)e;
    }
    if (digits && k == read.size())
        check(d == std::strtod(read.c_str(), nullptr), "a decimal reads differently from strtod");

    FILE* saved = stderr; // parseOrDie reports failures; keep the fuzzer's output clean
    unsigned int ud;
    float fd;
    bool bd;
    int sd;
    stderr = std::fopen("/dev/null", "w");
    bool okU = brenlo::string::parseOrDie<unsigned int>(s, ud);
    bool okF = brenlo::string::parseOrDie<float>(s, fd);
    brenlo::string::parseOrDie<bool>(s, bd);
    brenlo::string::parseOrDie<int>(s, sd);
    std::fclose(stderr);
    stderr = saved;
    if (okU) {
        check(std::strchr(s, '-') == nullptr, "an unsigned option value took a minus sign");
        check(std::strtoull(s, nullptr, 10) == ud, "an unsigned option value that does not fit");
    }
    if (okF)
        check(len > 0, "an empty real was accepted");
    return 0;
}

int texts(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    tolerant([&] {
        Rule rule = brenlo::string::parse<Rule>(text);
        // Whatever was read, its text must read back to the same rule.
        Rule back = brenlo::string::parse<Rule>(rule.toString());
        check(back == rule, "a rule's text does not read back to the rule");
    });
    tolerant([&] {
        ItemSet set = brenlo::string::parse<ItemSet>(text);
        ItemSet back = brenlo::string::parse<ItemSet>(set.toString());
        check(back == set, "an item set's text does not read back to the set");
    });
    return 0;
}

int ruleTable(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    // Arbitrary bytes: a table, or a clear error.
    tolerant([&] {
        RuleSet rules;
        std::istringstream in(text);
        rules.readInto(in, '\t');
    });
    // Rules over arbitrary item names survive a write and a read, in any
    // format, with the optional columns or without.
    Bytes bytes(data, size);
    RuleSet rules;
    const TableFormat formats[] = {TableFormat::TSV, TableFormat::CSV, TableFormat::JSONL};
    const TableFormat format = formats[bytes.byte() % 3];
    const unsigned all = RuleSet::DELAYS | RuleSet::DEPENDENCE | RuleSet::ORDER;
    rules.setColumns(bytes.byte() & all);
    // JSON holds text: bytes that are no UTF-8 are written as the code
    // points of their numbers, so there the names are ASCII.
    auto name = [&] {
        std::string text = bytes.text(6);
        if (format == TableFormat::JSONL)
            for (char& c : text)
                c = static_cast<char>(c & 0x7f);
        return text;
    };
    for (int n = 0; n < 8 && !bytes.empty(); ++n) {
        ItemSet a, b;
        for (int k = 1 + bytes.byte() % 2; k > 0; --k)
            a.add(name());
        for (int k = 1 + bytes.byte() % 2; k > 0; --k)
            b.add(name());
        RuleSet::Stats& s = rules[Rule(a, b)];
        s.count = bytes.byte();
        s.icount = bytes.byte();
        s.support = bytes.byte() / 7.0;
        s.certainty = bytes.byte() % 3 == 0 ? INFINITY : -bytes.byte() / 3.0;
        s.delayMin = bytes.byte();
        s.delayMax = uint64_t(bytes.byte()) << 24;
        s.pDependence = bytes.byte() / 255.0 * std::pow(10.0, -(bytes.byte() % 60) * 5);
        s.pOrderAdjusted = bytes.byte() / 255.0;
        s.countReverse = bytes.byte();
    }
    std::ostringstream out;
    std::streambuf* saved = std::cerr.rdbuf(nullptr);
    writeRuleTable(out, rules, format);
    std::cerr.rdbuf(saved);
    std::cerr.clear();
    RuleSet back;
    std::istringstream in(out.str());
    bool read = tolerant([&] { back.readInto(in, '\t'); });
    check(read, "a written rule table does not read back");
    check(back.size() == rules.size(), "rules lost in a write and read");
    // JSON Lines tell their columns by their records alone.
    if (rules.size() || format != TableFormat::JSONL)
        check(back.columns() == rules.columns(),
              "the optional columns changed in a write and read");
    auto it = back.begin();
    for (const auto& entry : rules) {
        check(it->first == entry.first, "a rule changed in a write and read");
        check(it->second.count == entry.second.count, "a count changed in a write and read");
        if (rules.columns() & RuleSet::DELAYS)
            check(it->second.delayMin == entry.second.delayMin &&
                      it->second.delayMax == entry.second.delayMax,
                  "a delay changed in a write and read");
        // The tab-separated table writes six digits, the others every one.
        auto same = [&](double a, double b) {
            return format == TableFormat::TSV ? std::fabs(a - b) <= 1e-5 * std::fabs(b) : a == b;
        };
        if (rules.columns() & RuleSet::DEPENDENCE)
            check(same(it->second.pDependence, entry.second.pDependence),
                  "a p-value changed in a write and read");
        if (rules.columns() & RuleSet::ORDER)
            check(same(it->second.pOrderAdjusted, entry.second.pOrderAdjusted) &&
                      it->second.countReverse == entry.second.countReverse,
                  "an order column changed in a write and read");
        ++it;
    }
    return 0;
}

// The columnar ingest reads what the table reader reads, with its errors,
// for any blocks and threads.
void ingestAgrees(const std::string& text, size_t block) {
    std::string want;
    try {
        TransactionSet txns;
        std::istringstream in(text);
        txns.readInto(in, '\t', "standard input");
        want = quorvel::rule::describe(quorvel::rule::eventLogOf(txns));
    } catch (const brenlo::Exception& e) {
        want = e.what();
    }
    for (unsigned threads : {1u, 2u}) {
        std::string got;
        try {
            got = quorvel::rule::describe(quorvel::rule::mining::parseEventLog(
                text, "standard input", '\t', threads, {block, 0}));
        } catch (const brenlo::Exception& e) {
            got = e.what();
        }
        check(got == want, "the ingest and the table reader disagree");
    }
}

int transactionTable(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    ingestAgrees(text, 1 + size % 97);
    // Histories over arbitrary names survive a write and a read.
    Bytes bytes(data, size);
    std::map<std::string, std::map<unsigned int, ItemSet>> histories;
    std::string table = "subject\ttime\titems\n";
    for (int n = 0; n < 12 && !bytes.empty(); ++n) {
        std::string subject = bytes.text(5);
        unsigned int time = bytes.byte() * 1000003u;
        std::string row = cell(subject) + "\t" + std::to_string(time);
        ItemSet& txn = histories[subject][time];
        for (int k = bytes.byte() % 4; k > 0; --k) {
            std::string item = bytes.text(5);
            row += "\t" + cell(item);
            if (!item.empty())
                txn.add(item);
        }
        table += row + (bytes.byte() % 2 ? "\n" : "\r\n");
    }
    TransactionSet txns;
    std::istringstream in(table);
    bool read = tolerant([&] { txns.readInto(in, '\t'); });
    check(read, "a written transaction table does not read back");
    check(txns.size() == histories.size(), "subjects lost in a write and read");
    auto it = txns.begin();
    for (const auto& h : histories) {
        check(it->first == h.first, "a subject changed in a write and read");
        check(it->second.size() == h.second.size(), "transactions lost in a write and read");
        for (const auto& t : h.second)
            check(it->second.contains(t.first) && it->second.at(t.first) == t.second,
                  "a transaction changed in a write and read");
        ++it;
    }
    return 0;
}

// An export read through named columns reads the same for any blocks and
// threads; every JSON string written of its bytes is valid UTF-8 without a
// raw control character.
int exportTable(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    using namespace quorvel::rule::mining;
    std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    TableLayout layout;
    layout.delimiter = ',';
    layout.subject = "s";
    layout.time = "t";
    if (data[0] & 1)
        layout.items = {"i"};
    const TimeFormat formats[] = {TimeFormat::NUMBER, TimeFormat::ISO8601, TimeFormat::UNIX,
                                  TimeFormat::UNIX_MS};
    layout.timeFormat = formats[data[0] >> 1 & 3];
    std::string first;
    for (unsigned threads : {1u, 2u})
        for (size_t block : {size_t(1) << 20, 1 + size % 31}) {
            std::string got;
            try {
                got = describe(parseEventLog(text, "standard input", layout, threads,
                                             {block, 0, 1 + size % 5}));
            } catch (const brenlo::Exception& e) {
                got = e.what();
            }
            if (first.empty())
                first = got;
            check(got == first, "an export reads differently by blocks or threads");
        }
    std::ostringstream json;
    quorvel::rule::writeJsonString(json, text);
    const std::string out = json.str();
    for (size_t k = 0; k < out.size(); ++k) {
        const unsigned char c = static_cast<unsigned char>(out[k]);
        check(c >= 0x20, "a raw control character in a JSON string");
        if (c < 0x80)
            continue;
        size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
        check(c >= 0xC2 && c <= 0xF4 && k + n <= out.size(), "a JSON string is not UTF-8");
        for (size_t j = 1; j < n; ++j)
            check((static_cast<unsigned char>(out[k + j]) & 0xC0) == 0x80,
                  "a JSON string is not UTF-8");
        k += n - 1;
    }
    return 0;
}

int commandLine(const uint8_t* data, size_t size) {
    std::vector<std::string> words = {"prog"};
    std::string word;
    for (size_t k = 0; k < size; ++k) {
        if (data[k] == 0) {
            words.push_back(word);
            word.clear();
        } else {
            word += static_cast<char>(data[k]);
        }
    }
    words.push_back(word);
    std::vector<const char*> argv;
    for (const std::string& w : words)
        argv.push_back(w.c_str());

    for (int table = 0; table < 2; ++table) {
        brenlo::cmdline::CmdLine cmd;
        if (table == 0)
            quorvel::registerOptions(cmd, quorvel::rule::optionTable());
        else
            quorvel::registerOptions(cmd, quorvel::links::optionTable());
        FILE* saved = stderr;
        stderr = std::fopen("/dev/null", "w");
        brenlo::cmdline::CmdLine::Result r = cmd.parse(static_cast<int>(argv.size()), argv.data());
        std::fclose(stderr);
        stderr = saved;
        if (!r) {
            check(r.bindings.size() == 0 && r.excess.size() == 0,
                  "a failed parse returned results");
            continue;
        }
        for (size_t k = 0; k < r.bindings.size(); ++k) {
            const auto& b = r.bindings[k];
            check(b.source != nullptr, "a binding without its option");
            check(b.values.size() >= b.source->minArity && b.values.size() <= b.source->maxArity,
                  "a binding with the wrong number of values");
            check(b.pos >= 1 && b.pos < argv.size(), "a binding at an impossible position");
        }
        check(r.excess.size() < argv.size(), "more positional words than words");
    }
    return 0;
}

} // namespace fuzz
