#include "shared_read.hpp"

#include "pieces.hpp"
#include "quorvel/peers.hpp"
#include "row_exchange.hpp"

#include "brenlo/string.hpp"
#include "quorvel/table_kind.hpp"

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <numeric>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvel::rule::mining {

namespace {

// ---- what each process reads ----

struct Share {
    std::string path;
    uint64_t offset = 0, length = UINT64_MAX; // the whole file by default
    bool whole = true;
};

uint64_t sizeOf(const std::string& path) {
    struct stat st;
    return path != "-" && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)
               ? static_cast<uint64_t>(st.st_size)
               : 0;
}

// The first row start at or after `at`: after a line feed that no carriage
// return follows, so no line end is split; `size` when there is none.
uint64_t rowStartFrom(int fd, uint64_t at, uint64_t size) {
    if (at == 0)
        return 0;
    char buf[1 << 16];
    for (uint64_t p = at - 1; p < size;) {
        const ssize_t n = ::pread(fd, buf, sizeof buf, static_cast<off_t>(p));
        if (n <= 1)
            return size;
        for (ssize_t k = 0; k + 1 < n; ++k)
            if (buf[k] == '\n' && buf[k + 1] != '\r')
                return p + static_cast<uint64_t>(k) + 1;
        p += static_cast<uint64_t>(n) - 1;
    }
    return size;
}

bool holdsQuote(int fd, uint64_t from, uint64_t to) {
    char buf[1 << 16];
    for (uint64_t p = from; p < to;) {
        const ssize_t n =
            ::pread(fd, buf, static_cast<size_t>(std::min<uint64_t>(sizeof buf, to - p)),
                    static_cast<off_t>(p));
        if (n <= 0)
            return false;
        if (std::memchr(buf, '"', static_cast<size_t>(n)))
            return true;
        p += static_cast<uint64_t>(n);
    }
    return false;
}

// ---- failures, as one process reading in order would meet them ----

// What a process met: nothing, a malformed row (its line counted from the
// start of its share), or another failure. `order` places it in the input.
struct Outcome {
    uint64_t order = UINT64_MAX;
    uint64_t lines = 0;     // line ends its share passed, when it got through
    uint64_t firstLine = 0; // its first row's line number, when known (else 0)
    bool row = false;
    uint64_t line = 0;
    std::string source, text;

    std::string encode() const {
        return std::to_string(order) + '\n' + std::to_string(lines) + '\n' +
               std::to_string(firstLine) + '\n' + (row ? "1" : "0") + '\n' + std::to_string(line) +
               '\n' + std::to_string(source.size()) + '\n' + source + text;
    }
    static Outcome decode(const std::string& s) {
        Outcome o;
        size_t at = 0;
        auto next = [&]() {
            const size_t nl = s.find('\n', at);
            const std::string word = s.substr(at, nl - at);
            at = nl + 1;
            return std::stoull(word);
        };
        o.order = next();
        o.lines = next();
        o.firstLine = next();
        o.row = next() == 1;
        o.line = next();
        const size_t n = next();
        o.source = s.substr(at, n);
        o.text = s.substr(at + n);
        return o;
    }
};

// The failure a single process would have met first, raised on every
// process; nothing when all got through. With `ranges`, process k read
// the k-th range of one file, and its lines count from its share's start.
void raiseFirstFailure(const Peers& peers, const Outcome& mine, bool ranges) {
    std::vector<Outcome> all;
    for (const std::string& s : peers.gather(mine.encode()))
        all.push_back(Outcome::decode(s));
    size_t first = all.size();
    for (size_t k = 0; k < all.size(); ++k)
        if (all[k].order != UINT64_MAX && (first == all.size() || all[k].order < all[first].order))
            first = k;
    if (first == all.size())
        return;
    Outcome o = all[first];
    if (o.row && ranges) {
        // Lines before this share: the lines of the shares before it.
        uint64_t start = all[0].firstLine;
        for (size_t k = 0; k < first; ++k)
            start += all[k].lines;
        o.line = first == 0 ? o.line : start + o.line - 1;
    }
    throw brenlo::IOException(o.row ? RowError(o.source, o.line, o.text).what() : o.text);
}

Outcome outcomeOf(uint64_t order, std::exception_ptr e) {
    Outcome o;
    o.order = order;
    try {
        std::rethrow_exception(e);
    } catch (const RowError& r) {
        o.row = true;
        o.line = r.line;
        o.source = r.source;
        o.text = r.text;
    } catch (...) {
        o.text = failureOf(std::current_exception());
    }
    return o;
}

// One file in ranges, one per process.
Outcome readRange(const Peers& P, const std::string& path, const TableLayout& layout,
                  unsigned threads, const IngestSizes& sizes, ReadRows& rows, bool& ranges) {
    Outcome mine;
    uint64_t headerBytes = 0;
    TablePiece after;
    const uint64_t size = sizeOf(path);
    uint64_t from = 0, to = size;
    int quoted = 0;
    try {
        after = headerOf(path, layout, headerBytes);
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            throw brenlo::IOException("Cannot open \"" + path + "\": " + std::strerror(errno));
        const uint64_t n = static_cast<uint64_t>(P.size()), k = static_cast<uint64_t>(P.rank());
        auto cut = [&](uint64_t j) {
            return j == 0   ? 0
                   : j == n ? size
                            : std::max(headerBytes, rowStartFrom(fd, size / n * j, size));
        };
        from = cut(k);
        to = std::max(from, cut(k + 1));
        // A quoted cell may hold a line end, which a cut could split: a
        // file with quotes is read by the first process alone.
        quoted = holdsQuote(fd, from, to);
        ::close(fd);
    } catch (...) {
        mine = outcomeOf(0, std::current_exception());
    }
    uint64_t anyQuote = static_cast<uint64_t>(quoted);
    P.sum(&anyQuote, 1);
    raiseFirstFailure(P, mine, false);
    ranges = anyQuote == 0;
    if (!ranges) {
        from = 0;
        to = P.leads() ? size : 0;
    }
    mine = Outcome();
    TablePiece piece = after;
    if (from == 0) {
        piece = TablePiece();
    } else {
        piece.firstLine = 1; // counted from the share's start; placed later
    }
    // The first share's lines are the file's own; the others' count from 1.
    mine.firstLine = from == 0 ? after.firstLine : 1;
    try {
        if (from < to || (from == 0 && P.leads())) {
            const uint64_t next =
                readPiece(Input(path, from, to - from), layout, piece, threads, sizes, rows);
            mine.lines = next - mine.firstLine;
        }
    } catch (...) {
        mine = outcomeOf(static_cast<uint64_t>(P.rank()), std::current_exception());
    }
    return mine;
}

} // namespace

std::vector<std::string> inputFiles(const std::vector<std::string>& operands) {
    std::vector<std::string> files;
    for (const std::string& operand : operands) {
        struct stat st;
        if (operand == "-" || ::stat(operand.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            files.push_back(operand);
            continue;
        }
        DIR* dir = ::opendir(operand.c_str());
        if (!dir)
            throw brenlo::IOException("Cannot open \"" + operand + "\": " + std::strerror(errno));
        std::vector<std::string> inside;
        while (const dirent* e = ::readdir(dir)) {
            const std::string name = e->d_name;
            const std::string path = operand + (operand.back() == '/' ? "" : "/") + name;
            if (name[0] != '.' && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
                inside.push_back(path);
        }
        ::closedir(dir);
        std::sort(inside.begin(), inside.end());
        if (inside.empty())
            throw brenlo::IOException("The folder \"" + operand + "\" holds no files to read.");
        files.insert(files.end(), inside.begin(), inside.end());
    }
    return files;
}

namespace {

// The first line of a table, decoded, without its line end or a mark.
std::string firstLine(const std::string& path) {
    Input in(path);
    Buffer buf;
    const size_t LIMIT = 1 << 20;
    bool more = true;
    std::string_view text;
    for (;;) {
        text = std::string_view(buf.data(), buf.size());
        const size_t end = text.find_first_of("\r\n");
        if (end != text.npos || !more || text.size() > LIMIT) {
            text = text.substr(0, end);
            break;
        }
        more = in.fill(buf, 1 << 16, 1);
    }
    if (text.substr(0, BYTE_ORDER_MARK.size()) == BYTE_ORDER_MARK)
        text.remove_prefix(BYTE_ORDER_MARK.size());
    return std::string(text);
}

} // namespace

void checkParts(const std::vector<std::string>& files) {
    std::string firstPath, first;
    for (const std::string& path : files) {
        if (path == "-")
            continue;
        const std::string header = firstLine(path);
        const TableKind kind = writtenTableKind(header);
        if (kind != TableKind::OTHER)
            throw brenlo::IOException(path +
                                      ":1: " + wrongTableMessage(kind, "a transaction table"));
        if (firstPath.empty()) {
            firstPath = path;
            first = header;
        } else if (header != first) {
            throw brenlo::IOException(path + ":1: The header is not that of the first part, " +
                                      firstPath +
                                      "; the parts of one table all start with the same header.");
        }
    }
}

EventLog readShared(const Peers& P, const std::vector<std::string>& paths,
                    const TableLayout& layout, unsigned threads, const IngestSizes& sizes) {
    ReadRows rows;
    if (P.alone()) {
        for (const std::string& path : paths)
            readPiece(Input(path), layout, TablePiece(), threads, sizes, rows);
        return logOf(rows, threads, sizes);
    }
    Outcome mine;
    bool ranges = false;
    // Compressed data cannot be cut at a byte: such a file is read whole.
    if (paths.size() == 1 && sizeOf(paths[0]) > 0 && !Input(paths[0]).compressed()) {
        mine = readRange(P, paths[0], layout, threads, sizes, rows, ranges);
    } else {
        // Whole files, the largest first to the least loaded process;
        // standard input, which only the first process has, to it. The
        // sizes are the first process's, so all share the files alike.
        std::string mySizes;
        for (const std::string& path : paths)
            mySizes += std::to_string(sizeOf(path)) + '\n';
        std::vector<uint64_t> size;
        const std::string first = P.gather(mySizes)[0];
        for (size_t at = 0; at < first.size(); at = first.find('\n', at) + 1)
            size.push_back(std::stoull(first.substr(at, first.find('\n', at) - at)));
        std::vector<size_t> order(paths.size());
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t a, size_t b) { return size[a] > size[b]; });
        std::vector<uint64_t> load(static_cast<size_t>(P.size()), 0);
        std::vector<int> reader(paths.size(), 0);
        for (size_t f : order) {
            if (paths[f] != "-") {
                reader[f] =
                    static_cast<int>(std::min_element(load.begin(), load.end()) - load.begin());
                load[static_cast<size_t>(reader[f])] += std::max<uint64_t>(1, size[f]);
            }
        }
        for (size_t f = 0; f < paths.size() && mine.order == UINT64_MAX; ++f) {
            if (reader[f] != P.rank())
                continue;
            try {
                readPiece(Input(paths[f]), layout, TablePiece(), threads, sizes, rows);
            } catch (...) {
                mine = outcomeOf(f, std::current_exception());
            }
        }
    }
    raiseFirstFailure(P, mine, ranges);

    const SkippedRows skipped = rows.skipped;
    std::vector<std::string> messages;
    together(P, [&] { messages = messagesOf(rows, P.size()); });
    messages = P.exchange(std::move(messages));
    together(P, [&] { rows = rowsOf(messages); });
    std::vector<Item> items = allItems(P, rows);
    EventLog log;
    together(P, [&] { log = logOf(rows, threads, sizes, &items); });
    log.skipped = skipped;
    return log;
}

} // namespace quorvel::rule::mining
