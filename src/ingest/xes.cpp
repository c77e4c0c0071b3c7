#include "xes.hpp"

#include "input.hpp"
#include "pieces.hpp"
#include "read_budget.hpp"
#include "times.hpp"

#include "brenlo/exception.hpp"
#include "brenlo/string.hpp"

#include <cctype>
#include <cstring>
#include <expat.h>
#include <memory>

namespace quorvel::rule::mining {

namespace {

// "complete" in any case, as XES writers differ.
bool isComplete(const std::string& transition) {
    const char* want = "complete";
    if (transition.size() != std::strlen(want))
        return false;
    for (size_t k = 0; k < transition.size(); ++k)
        if (std::tolower(static_cast<unsigned char>(transition[k])) != want[k])
            return false;
    return true;
}

// An XES root: <log>, or the same with a namespace prefix.
bool isLogElement(const char* name) {
    const char* local = std::strrchr(name, ':');
    return std::strcmp(local ? local + 1 : name, "log") == 0;
}

// What the parse keeps while it walks the elements.
class XesReader {
public:
    XesReader(const std::string& source, const XesLayout& layout, ReadRows& rows)
        : m_source(source), m_layout(layout), m_rows(rows),
          m_parser(XML_ParserCreate(nullptr), XML_ParserFree) {
        XML_SetUserData(m_parser.get(), this);
        XML_SetElementHandler(m_parser.get(), &XesReader::startThunk, &XesReader::endThunk);
    }

    /// Parses `n` more bytes; `last` for the end of the data.
    void feed(const char* data, size_t n, bool last) {
        if (XML_Parse(m_parser.get(), data, static_cast<int>(n), last) == XML_STATUS_OK)
            return;
        if (!m_error.empty())
            throw brenlo::IOException(m_error);
        fail(std::string("Malformed XML: ") + XML_ErrorString(XML_GetErrorCode(m_parser.get())) +
             ".");
    }

private:
    enum Scope { OUTSIDE, IN_TRACE, IN_EVENT };

    static void XMLCALL startThunk(void* self, const XML_Char* name, const XML_Char** attrs) {
        static_cast<XesReader*>(self)->start(name, attrs);
    }
    static void XMLCALL endThunk(void* self, const XML_Char* name) {
        static_cast<XesReader*>(self)->end(name);
    }

    // A failure inside a handler stops the parser; the message is raised
    // once the parse returns.
    void stop(const std::string& message) {
        if (m_error.empty())
            m_error = message;
        XML_StopParser(m_parser.get(), XML_FALSE);
    }
    std::string where() const {
        return brenlo::string::strprintf(
            "%s:%lu: ", m_source.c_str(),
            static_cast<unsigned long>(XML_GetCurrentLineNumber(m_parser.get())));
    }
    [[noreturn]] void fail(const std::string& why) const {
        throw brenlo::IOException(where() + why);
    }

    void start(const char* name, const char** attrs) {
        ++m_depth;
        // Other XML (a web page, a process model) is refused, not read as
        // an empty log.
        if (m_depth == 1 && !isLogElement(name))
            return stop(where() + "This is not an XES log: its root element is <" + name + ">.");
        if (std::strcmp(name, "trace") == 0 && m_scope == OUTSIDE) {
            m_scope = IN_TRACE;
            m_traceDepth = m_depth;
            m_subject.clear();
            m_hasSubject = false;
            m_events.clear();
            m_notComplete = 0;
            return;
        }
        if (std::strcmp(name, "event") == 0 && m_scope == IN_TRACE && m_depth == m_traceDepth + 1) {
            m_scope = IN_EVENT;
            m_eventLine = XML_GetCurrentLineNumber(m_parser.get());
            m_items.clear();
            m_time.clear();
            m_hasTime = false;
            m_lifecycle.clear();
            m_itemSeen.assign(m_layout.items.size(), false);
            return;
        }
        // An attribute of the trace or of the event itself, not nested.
        const bool ofTrace = m_scope == IN_TRACE && m_depth == m_traceDepth + 1;
        const bool ofEvent = m_scope == IN_EVENT && m_depth == m_traceDepth + 2;
        if (!ofTrace && !ofEvent)
            return;
        const char *key = nullptr, *value = nullptr;
        for (size_t k = 0; attrs[k]; k += 2) {
            if (std::strcmp(attrs[k], "key") == 0)
                key = attrs[k + 1];
            else if (std::strcmp(attrs[k], "value") == 0)
                value = attrs[k + 1];
        }
        if (!key || !value)
            return;
        if (ofTrace) {
            if (m_layout.subject == key) {
                m_subject = value;
                m_hasSubject = true;
            }
            return;
        }
        if (m_layout.time == key) {
            m_time = value;
            m_hasTime = true;
        }
        if (std::strcmp(key, "lifecycle:transition") == 0)
            m_lifecycle = value;
        // An event naming one key twice gives its first value: one
        // attribute, one item.
        for (size_t k = 0; k < m_layout.items.size(); ++k) {
            if (m_layout.items[k] != key || m_itemSeen[k])
                continue;
            m_itemSeen[k] = true;
            if (*value)
                m_items.push_back(m_layout.itemPrefix ? std::string(key) + "=" + value
                                                      : std::string(value));
        }
    }

    void end(const char* name) {
        if (m_scope == IN_EVENT && m_depth == m_traceDepth + 1 && std::strcmp(name, "event") == 0)
            endEvent();
        else if (m_scope == IN_TRACE && m_depth == m_traceDepth && std::strcmp(name, "trace") == 0)
            endTrace();
        --m_depth;
    }

    void endEvent() {
        m_scope = IN_TRACE;
        if (!m_layout.allLifecycles && !m_lifecycle.empty() && !isComplete(m_lifecycle)) {
            ++m_notComplete;
            return;
        }
        const std::string at = brenlo::string::strprintf("%s:%lu: ", m_source.c_str(),
                                                         static_cast<unsigned long>(m_eventLine));
        if (!m_hasTime)
            return stop(at + "The event has no \"" + m_layout.time + "\" attribute.");
        History::Time time = 0;
        std::string why;
        if (!parseTimeCell(m_time, TimeFormat::ISO8601, time, why))
            return stop(at + why);
        if (m_items.empty()) {
            ++m_rows.skipped.noItem;
            return;
        }
        for (const std::string& item : m_items)
            m_events.push_back({time, m_rows.items.intern(item)});
    }

    void endTrace() {
        m_scope = OUTSIDE;
        if (!m_hasSubject || m_subject.empty()) {
            m_rows.skipped.noSubject += m_events.size();
            return;
        }
        // A trace none of whose events is read is no history record; its
        // events are counted as skipped.
        if (m_events.empty()) {
            m_rows.skipped.notComplete += m_notComplete;
            return;
        }
        const uint32_t subject = m_rows.subjects.intern(m_subject);
        for (const auto& e : m_events)
            m_rows.events.push_back({subject, e.first, e.second});
    }

    const std::string m_source;
    const XesLayout& m_layout;
    ReadRows& m_rows;
    std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> m_parser;
    std::string m_error;
    Scope m_scope = OUTSIDE;
    size_t m_depth = 0, m_traceDepth = 0;
    unsigned long m_eventLine = 0;
    std::string m_subject, m_time, m_lifecycle;
    bool m_hasSubject = false, m_hasTime = false;
    std::vector<std::string> m_items;
    std::vector<bool> m_itemSeen; // of the event, by item key
    uint64_t m_notComplete = 0;   // of the trace's events, left out by lifecycle
    std::vector<std::pair<History::Time, uint32_t>> m_events; // of the trace
};

} // namespace

XesLayout xesLayoutOf(const TableLayout& layout) {
    XesLayout xes;
    if (!layout.subject.empty())
        xes.subject = layout.subject;
    if (!layout.time.empty())
        xes.time = layout.time;
    if (!layout.items.empty())
        xes.items = layout.items;
    xes.allLifecycles = layout.allLifecycles;
    xes.itemPrefix = layout.itemPrefix;
    return xes;
}

namespace {

// The first bytes of standard input, read once and kept for its reader;
// as many as a file's sniff takes.
std::string_view standardInputStart(size_t n) {
    Buffer& ahead = standardInputAhead();
    while (ahead.size() < n) {
        const ssize_t r = ::read(STDIN_FILENO, ahead.room(n - ahead.size()), n - ahead.size());
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        ahead.grow(static_cast<size_t>(r));
    }
    return std::string_view(ahead.data(), ahead.size());
}

} // namespace

bool looksLikeXml(const std::string& path) {
    Buffer buf;
    try {
        // Standard input is told by the bytes kept ahead, inflated as a
        // file's would be; a gzip stream cut there ends the look.
        Input in = path == "-" ? Input(standardInputStart(4096), "standard input") : Input(path);
        while (buf.size() < 512 && in.fill(buf, 512, 1)) {
        }
    } catch (const std::exception&) {
        if (path != "-")
            return false;
    }
    std::string_view start(buf.data(), buf.size());
    if (start.substr(0, 3) == "\xEF\xBB\xBF")
        start.remove_prefix(3);
    const size_t first = start.find_first_not_of(" \t\r\n");
    return first != start.npos && start[first] == '<';
}

namespace {

EventLog readXes(Input&& in, const XesLayout& layout, unsigned threads, const IngestSizes& sizes) {
    ReadRows rows;
    XesReader reader(in.name(), layout, rows);
    const ReadBudget budget(sizes.memoryBudget, in.name());
    Buffer buf;
    bool more = true;
    for (uint64_t blocks = 1; more; ++blocks) {
        buf.clear();
        more = in.fill(buf, 1 << 20, 1);
        reader.feed(buf.data(), buf.size(), !more);
        if (blocks % 32 == 0)
            budget.check();
    }
    return logOf(rows, threads, sizes);
}

} // namespace

EventLog readXesLog(const std::string& path, const XesLayout& layout, unsigned threads,
                    const IngestSizes& sizes) {
    return readXes(Input(path), layout, threads, sizes);
}

EventLog parseXesLog(std::string_view bytes, const std::string& source, const XesLayout& layout,
                     unsigned threads, const IngestSizes& sizes) {
    return readXes(Input(bytes, source), layout, threads, sizes);
}

} // namespace quorvel::rule::mining
