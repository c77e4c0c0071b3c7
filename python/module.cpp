// quorvel._quorvel: the mining API for Python. The pandas side (column
// codes, times as seconds, DataFrames out) is quorvel/__init__.py; this is
// the event log, the run and its results as arrays.
#include "quorvel/budget.hpp"
#include "times.hpp"
#include "xes.hpp"

#include "quorvel/formats.hpp"
#include "quorvel/mine.hpp"
#include "quorvel/read.hpp"

#include "brenlo/exception.hpp"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <chrono>
#include <exception>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

namespace py = pybind11;
using namespace quorvel::rule;

namespace {

typedef py::array_t<int64_t, py::array::c_style | py::array::forcecast> Int64s;

// The current stage and how far it has got, for the waiting thread to
// pass on to the caller's callback.
class Polled : public brenlo::Progress {
public:
    void start(const std::string& label, uint64_t total, Unit) override {
        std::lock_guard<std::mutex> lock(m_lock);
        m_label = label;
        m_total = total;
        m_done = 0;
    }
    void advance(uint64_t n) override { m_done += n; }
    void finish() override {}

    bool changed(std::string& label, uint64_t& done, uint64_t& total) {
        std::lock_guard<std::mutex> lock(m_lock);
        const uint64_t now = m_done;
        if (m_label.empty() || (m_label == m_said && now == m_saidDone))
            return false;
        m_said = label = m_label;
        m_saidDone = done = now;
        total = m_total;
        return true;
    }

private:
    std::mutex m_lock;
    std::string m_label, m_said;
    uint64_t m_total = 0, m_saidDone = 0;
    std::atomic<uint64_t> m_done{0};
};

// Passes a change of progress on to the callback; false, with the Python
// error set, when it raised.
bool say(Polled& polled, const py::object& progress) {
    std::string label;
    uint64_t at = 0, total = 0;
    if (progress.is_none() || !polled.changed(label, at, total))
        return true;
    try {
        progress(label, at, total);
    } catch (py::error_already_set& e) {
        e.restore();
        return false;
    }
    return true;
}

// Runs `work` on a thread of its own with the GIL released, while this
// one watches for Ctrl-C (which cancels it) and passes progress on.
template <class F>
void runCancellable(F work, Polled& polled, std::atomic<bool>& cancel, const py::object& progress) {
    std::exception_ptr failure;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        done = true;
    });
    bool interrupted = false;
    while (!done) {
        {
            py::gil_scoped_release release;
            for (int i = 0; i < 20 && !done; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (!interrupted && PyErr_CheckSignals() != 0) {
            interrupted = true;
            cancel = true;
        }
        if (!interrupted && !say(polled, progress)) {
            cancel = true;
            {
                py::gil_scoped_release release;
                worker.join();
            }
            throw py::error_already_set();
        }
    }
    worker.join();
    if (interrupted)
        throw py::error_already_set();
    if (failure)
        std::rethrow_exception(failure);
    // However quick the run, where it ended is said.
    if (!say(polled, progress))
        throw py::error_already_set();
}

py::tuple itemsOf(const ItemSet& set) {
    py::tuple t(set.size());
    size_t k = 0;
    for (const Item& item : set)
        t[k++] = py::str(item);
    return t;
}

// The rules as the columns of a table, in the order `selection` asks, each
// measure by its name: whole ones as int64, the others as float64.
py::dict ruleColumns(const RuleSet& rules, const RuleSelection& selection) {
    const std::vector<RuleSet::ConstIterator> rows = selectRules(rules, selection);
    const py::ssize_t n = static_cast<py::ssize_t>(rows.size());
    py::list antecedent(n), subsequent(n);
    py::dict out;
    out["antecedent"] = antecedent;
    out["subsequent"] = subsequent;
    for (py::ssize_t r = 0; r < n; ++r) {
        const auto& rule = rows[static_cast<size_t>(r)];
        antecedent[static_cast<size_t>(r)] = itemsOf(rule->first.antecedent());
        subsequent[static_cast<size_t>(r)] = itemsOf(rule->first.subsequent());
    }
    for (const Measure* m : tableMeasures(rules.columns())) {
        if (m->whole) {
            py::array_t<int64_t> column(n);
            for (py::ssize_t r = 0; r < n; ++r)
                column.mutable_at(r) = static_cast<int64_t>(m->of(rows[size_t(r)]->second));
            out[m->name] = column;
        } else {
            py::array_t<double> column(n);
            for (py::ssize_t r = 0; r < n; ++r)
                column.mutable_at(r) = m->of(rows[size_t(r)]->second);
            out[m->name] = column;
        }
    }
    return out;
}

py::dict itemSetColumns(const ItemSetHistogram& sets) {
    const size_t n = sets.size();
    py::list items(n);
    py::array_t<int64_t> count(static_cast<py::ssize_t>(n));
    size_t r = 0;
    for (const auto& entry : sets) {
        items[r] = itemsOf(entry.first);
        count.mutable_at(static_cast<py::ssize_t>(r)) = static_cast<int64_t>(entry.second);
        ++r;
    }
    py::dict out;
    out["items"] = items;
    out["count"] = count;
    return out;
}

MiningParams paramsOf(const py::dict& p) {
    MiningParams params;
    params.minCount = p["min_count"].cast<size_t>();
    params.minSupport = p["min_support"].cast<double>();
    params.minConfidence = p["min_confidence"].cast<double>();
    params.minLift = p["min_lift"].cast<double>();
    params.maxConviction = p["max_conviction"].cast<double>();
    params.maxOrder = p["max_order"].cast<unsigned>();
    params.windowSize = p["window"].cast<unsigned>();
    params.threads = p["threads"].cast<unsigned>();
    params.memoryBudget = p["memory"].cast<uint64_t>();
    params.rules =
        p["rules"].cast<std::string>() == "basket" ? RuleKind::BASKET : RuleKind::ORDERED;
    params.delays = p["delays"].cast<bool>();
    params.constraints.subsequent = p["subsequent"].cast<std::vector<std::string>>();
    params.constraints.antecedent = p["antecedent"].cast<std::vector<std::string>>();
    params.constraints.exclude = p["exclude"].cast<std::vector<std::string>>();
    params.allItemSets = p["all_item_sets"].cast<bool>();
    params.productive = p["productive"].cast<bool>();
    for (const std::string& test : p["p_values"].cast<std::vector<std::string>>())
        params.pValues |= test == "order" ? RuleSet::ORDER : RuleSet::DEPENDENCE;
    params.maxP = p["max_p"].cast<double>();
    params.best = p["best"].cast<size_t>();
    params.adjust =
        p["adjust"].cast<std::string>() == "bh" ? Adjustment::BH : Adjustment::HOLM;
    const std::string sort = p["sort"].cast<std::string>();
    if (!sort.empty()) {
        params.selection.sortBy = findMeasure(sort);
        if (!params.selection.sortBy)
            throw std::invalid_argument("sort=\"" + sort + "\" is not a measure; one of " +
                                        measureNames() + ".");
    }
    params.selection.top = p["top"].cast<size_t>();
    return params;
}

ItemSet itemSetOf(const py::handle& items) {
    ItemSet set;
    for (const py::handle& item : items)
        set.add(item.cast<std::string>());
    return set;
}

bool formatOf(const std::string& word, TableFormat& format) {
    if (!parseTableFormat(word, format))
        throw std::invalid_argument("format must be tsv, csv or jsonl, not \"" + word + "\".");
    return true;
}

// A rule table's rows, in the order given, as the program writes them; the
// frame's optional columns, when it has them all, are written too.
std::string ruleTable(const py::dict& c, const std::string& word) {
    TableFormat format;
    formatOf(word, format);
    const py::list antecedent = c["antecedent"], subsequent = c["subsequent"];
    unsigned columns = 0;
    for (const Measure* m : tableMeasures(~0u))
        if (m->columns && c.contains(m->name))
            columns |= m->columns;
    const std::vector<const Measure*> shown = tableMeasures(columns);
    for (const Measure* m : shown)
        if (!c.contains(m->name))
            throw std::invalid_argument(std::string("The frame has no column \"") + m->name +
                                        "\".");
    // The frame's columns are named as the measures are.
    std::vector<py::list> column;
    for (const Measure* m : shown)
        column.push_back(c[m->name]);
    RuleSet rules;
    rules.setColumns(columns);
    std::vector<Rule> order;
    for (size_t r = 0; r < antecedent.size(); ++r) {
        const Rule rule(itemSetOf(antecedent[r]), itemSetOf(subsequent[r]));
        RuleSet::Stats& s = rules[rule];
        for (size_t m = 0; m < shown.size(); ++m)
            shown[m]->set(s, shown[m]->whole ? double(column[m][r].cast<uint64_t>())
                                             : column[m][r].cast<double>());
        order.push_back(rule);
    }
    std::map<Rule, RuleSet::ConstIterator> where;
    for (RuleSet::ConstIterator it = rules.begin(); it != rules.end(); ++it)
        where.emplace(it->first, it);
    std::vector<RuleSet::ConstIterator> rows;
    for (const Rule& rule : order)
        rows.push_back(where.at(rule));
    std::ostringstream out;
    writeRuleRows(out, rows, format, columns);
    return out.str();
}

std::string itemSetTable(const py::dict& c, const std::string& word) {
    TableFormat format;
    formatOf(word, format);
    const py::list items = c["items"], count = c["count"];
    ItemSetHistogram sets;
    for (size_t r = 0; r < items.size(); ++r)
        sets[itemSetOf(items[r])] = count[r].cast<size_t>();
    std::ostringstream out;
    writeItemSetTable(out, sets, format);
    return out.str();
}

// The log and the run's results, as the Python side takes them.
py::dict mineLog(const EventLog& log, const py::dict& settings, const py::object& progress) {
    const MiningParams params = paramsOf(settings);
    Polled polled;
    std::atomic<bool> cancel{false};
    MiningContext context;
    context.progress = &polled;
    context.cancel = &cancel;
    MiningResult result;
    runCancellable([&] { result = mine(params, log, context); }, polled, cancel, progress);
    py::dict out;
    out["rules"] = ruleColumns(result.rules(), params.selection);
    out["item_sets"] = itemSetColumns(result.itemSets());
    out["subjects"] = log.subjects();
    out["skipped"] = log.skipped.message();
    return out;
}

EventLog logOfColumns(Int64s subject, Int64s time, std::vector<Int64s> items,
                      std::vector<std::string> dictionary, unsigned threads) {
    EventColumns columns;
    columns.rows = static_cast<size_t>(subject.size());
    if (time.size() != subject.size())
        throw std::invalid_argument("The subject and time columns differ in length.");
    columns.subject = subject.data();
    columns.time = time.data();
    for (const Int64s& column : items) {
        if (column.size() != subject.size())
            throw std::invalid_argument("An item column differs in length from the subjects.");
        columns.items.push_back(column.data());
    }
    columns.dictionary = std::move(dictionary);
    py::gil_scoped_release release;
    return eventLogOf(columns, threads);
}

EventLog readFile(const std::string& path, const py::dict& l, unsigned threads,
                  const py::object& progress) {
    TableLayout layout;
    const std::string delimiter = l["delimiter"].cast<std::string>();
    if (delimiter.size() != 1)
        throw std::invalid_argument("delimiter must be one character, not \"" + delimiter + "\".");
    layout.delimiter = delimiter[0];
    const std::string format = l["time_format"].cast<std::string>();
    if (!parseTimeFormat(format, layout.timeFormat))
        throw std::invalid_argument("time_format must be number, iso8601, unix or unix-ms, not \"" +
                                    format + "\".");
    layout.subject = l["subject"].cast<std::string>();
    layout.time = l["time"].cast<std::string>();
    layout.items = l["items"].cast<std::vector<std::string>>();
    layout.xes = l["xes"].cast<bool>();
    layout.allLifecycles = l["all_lifecycles"].cast<bool>();
    layout.itemPrefix = l["item_prefix"].cast<bool>();
    if (layout.xes)
        layout.timeFormat = TimeFormat::ISO8601;
    Polled polled;
    std::atomic<bool> cancel{false};
    EventLog log;
    runCancellable([&] { log = readLog(path, layout, threads, &polled); }, polled, cancel,
                   progress);
    return log;
}

// Times in ISO 8601 as the command line reads them: seconds since 1970 UTC.
Int64s isoSeconds(const std::vector<std::string>& cells) {
    Int64s out(static_cast<py::ssize_t>(cells.size()));
    auto* at = out.mutable_data();
    std::string why;
    for (size_t k = 0; k < cells.size(); ++k) {
        History::Time t = 0;
        if (!parseTimeCell(cells[k], TimeFormat::ISO8601, t, why))
            throw std::invalid_argument("Row " + std::to_string(k + 1) + ": " + why);
        at[k] = t;
    }
    return out;
}

} // namespace

PYBIND11_MODULE(_quorvel, m) {
    m.doc() = "Sequential association rules over event histories (the compiled part).";
    static py::exception<std::runtime_error> error(m, "Error");
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p)
                std::rethrow_exception(p);
        } catch (std::exception* e) {
            const std::string what = e->what();
            delete e;
            error(what.c_str());
        } catch (const Cancelled& e) {
            PyErr_SetString(PyExc_KeyboardInterrupt, e.what());
        } catch (const brenlo::IOException& e) {
            error(e.what());
        } catch (const std::runtime_error& e) {
            error(e.what());
        }
    });
    py::class_<EventLog>(m, "EventLog")
        .def_property_readonly("subjects", &EventLog::subjects)
        .def_property_readonly("transactions", &EventLog::transactions)
        .def_property_readonly("skipped", [](const EventLog& log) { return log.skipped.message(); })
        .def("describe", [](const EventLog& log) { return describe(log); });
    m.def("log_of_columns", &logOfColumns, py::arg("subject"), py::arg("time"), py::arg("items"),
          py::arg("dictionary"), py::arg("threads"));
    m.def("read_file", &readFile, py::arg("path"), py::arg("layout"), py::arg("threads"),
          py::arg("progress"));
    m.def("mine", &mineLog, py::arg("log"), py::arg("settings"), py::arg("progress"));
    m.def("iso_seconds", &isoSeconds, py::arg("cells"));
    m.def("rule_table", &ruleTable, py::arg("columns"), py::arg("format"));
    m.def("item_set_table", &itemSetTable, py::arg("columns"), py::arg("format"));
    m.def("looks_like_xml", &mining::looksLikeXml, py::arg("path"));
    m.def("duration", [](const std::string& text) {
        unsigned seconds = 0;
        bool unit = false;
        if (!parseDuration(text, seconds, unit))
            throw std::invalid_argument("window=\"" + text +
                                        "\" is neither a whole number nor one with a unit s, m, "
                                        "h, d or w.");
        return py::make_tuple(seconds, unit);
    });
    m.def("memory_size", [](const std::string& text) {
        uint64_t bytes = 0;
        if (!parseMemorySize(text, bytes) || bytes < (uint64_t(1) << 20))
            throw std::invalid_argument("memory=\"" + text +
                                        "\" is not a size of at least 1M, such as 512M or 8G.");
        return bytes;
    });
    m.def("default_memory", &defaultMemoryBudget);
    m.def("measures", [] {
        std::vector<std::string> names;
        for (const Measure& m : measures())
            names.push_back(m.name);
        return names;
    });
}
