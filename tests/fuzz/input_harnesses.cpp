// The harnesses of whole inputs: gzipped tables and XES logs.
#include "harness_support.hpp"
#include "harnesses.hpp"

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

namespace {

// `text` as gzip, in members cut at `cuts` (as `cat a.gz b.gz` makes); in
// `ends`, where each member ends.
std::string gzipped(const std::string& text, const std::vector<size_t>& cuts,
                    std::vector<size_t>& ends) {
    std::string out;
    size_t from = 0;
    for (size_t k = 0; k <= cuts.size(); ++k) {
        const size_t to =
            k < cuts.size() ? std::min(text.size(), std::max(from, cuts[k])) : text.size();
        z_stream z{};
        check(deflateInit2(&z, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK,
              "deflateInit2");
        std::string member(deflateBound(&z, to - from) + 32, '\0');
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data() + from));
        z.avail_in = static_cast<uInt>(to - from);
        z.next_out = reinterpret_cast<Bytef*>(&member[0]);
        z.avail_out = static_cast<uInt>(member.size());
        check(deflate(&z, Z_FINISH) == Z_STREAM_END, "deflate");
        member.resize(member.size() - z.avail_out);
        deflateEnd(&z);
        out += member;
        ends.push_back(out.size());
        from = to;
    }
    return out;
}

// The outcome of reading `bytes` with both readers, as text; `failed`
// counts the readers that raised an error.
std::string readBoth(const std::string& bytes, size_t block, std::string& library, int& failed) {
    failed = 0;
    try {
        TransactionSet txns;
        std::istringstream in(bytes);
        txns.readInto(in, '\t', "standard input");
        library = quorvel::rule::describe(quorvel::rule::eventLogOf(txns));
    } catch (const brenlo::Exception& e) {
        library = e.what();
        ++failed;
    }
    try {
        return quorvel::rule::describe(
            quorvel::rule::mining::parseEventLog(bytes, "standard input", '\t', 1, {block, 0}));
    } catch (const brenlo::Exception& e) {
        ++failed;
        return e.what();
    }
}

} // namespace

// A table reads the same gzipped (in one member or several) as plain, in
// both readers; gzip data cut anywhere short of its end is refused.
int compressed(const uint8_t* data, size_t size) {
    if (size < 3)
        return 0;
    const std::string text(reinterpret_cast<const char*>(data) + 3, size - 3);
    const std::vector<size_t> cuts = {data[0] % 2 ? size_t(data[1]) : text.size(),
                                      size_t(data[1]) + data[2]};
    const size_t block = 1 + data[2] % 61;
    std::string plainLibrary, packedLibrary;
    int plainFailed = 0, packedFailed = 0;
    const std::string plain = readBoth(text, block, plainLibrary, plainFailed);
    std::vector<size_t> ends;
    const std::string packed = gzipped(text, cuts, ends);
    const std::string got = readBoth(packed, block, packedLibrary, packedFailed);
    if (brenlo::io::compressionOf(text.data(), text.size()) == brenlo::io::Compression::NONE) {
        check(got == plain, "the ingest reads gzip data unlike the same bytes plain");
        check(packedLibrary == plainLibrary, "the table reader reads gzip unlike plain");
    }
    const size_t cut = data[1] * 7 % packed.size();
    // Two bytes at least: fewer are no gzip magic, and read as text.
    if (cut >= 2 && std::find(ends.begin(), ends.end(), cut) == ends.end()) {
        // Never fewer rows: an error, and the decoder's when the rows are sound.
        std::string libraryCut;
        int cutFailed = 0;
        const std::string shortened = readBoth(packed.substr(0, cut), block, libraryCut, cutFailed);
        check(cutFailed == 2, "cut gzip data read without an error");
        if (plainFailed == 0) {
            check(shortened.rfind("standard input: Cannot read: the gzip data", 0) == 0,
                  "cut gzip data of a sound table read without the decoder's error");
            check(libraryCut.rfind("standard input: Cannot read: the gzip data", 0) == 0,
                  "cut gzip data of a sound table read by the table reader without its error");
        }
    }
    return 0;
}

// Any bytes as an XES log: a log, or an error that says where; the
// same log with every lifecycle read holds at least as many events.
int xesLog(const uint8_t* data, size_t size) {
    using namespace quorvel::rule::mining;
    const std::string text(reinterpret_cast<const char*>(data), size);
    XesLayout layout;
    size_t complete = 0;
    bool read =
        tolerant([&] { complete = parseXesLog(text, "log.xes", layout, 1).transactions(); });
    layout.allLifecycles = true;
    size_t all = 0;
    bool readAll = tolerant([&] { all = parseXesLog(text, "log.xes", layout, 2).transactions(); });
    check(!read || !readAll || all >= complete, "more events read with fewer lifecycles");
    return 0;
}

const Target TARGETS[] = {{"rows", rows},
                          {"values", values},
                          {"texts", texts},
                          {"rule-table", ruleTable},
                          {"transaction-table", transactionTable},
                          {"command-line", commandLine},
                          {"export-table", exportTable},
                          {"compressed", compressed},
                          {"xes", xesLog}};
const size_t TARGET_COUNT = sizeof TARGETS / sizeof TARGETS[0];

} // namespace fuzz
