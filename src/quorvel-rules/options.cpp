#include "options.hpp"

#include "ingest.hpp"
#include "quorvel/budget.hpp"
#include "xes.hpp"

#include "brenlo/string.hpp"
#include "brenlo/threads.hpp"

#include <cstdio>
#include <cstdlib>

namespace quorvel::rule {

using brenlo::cmdline::CmdLine;
using brenlo::cmdline::Domain;

namespace {

typedef Configuration C;

bool refuse(const std::string& option, const char* needs, const std::string& value) {
    std::fprintf(stderr, "Option \"%s\" needs %s, not \"%s\".\n", option.c_str(), needs,
                 value.c_str());
    return false;
}

OptionRow<C> memoryRow() {
    return textRow<C>('M', "memory", "Set the memory budget.",
                      "  -M, --memory=SIZE\tSet the memory budget, e.g. 512M or 8G (default: three "
                      "quarters of physical memory).\n",
                      [](C& c, const std::string& value, const std::string& option) {
                          if (!parseMemorySize(value, c.memoryBudget))
                              return refuse(option, "a size such as 512M or 8G", value);
                          // Less than the miner needs to start is a mistake.
                          return c.memoryBudget >= (uint64_t(1) << 20) ||
                                 refuse(option, "at least 1M", value);
                      });
}

// A window is a whole number, or a duration such as 7d; anything else is
// refused as the parser refuses a number, and ends the parse there.
bool readWindow(const char* text, unsigned int& size, bool& hasUnit) {
    if (parseDuration(text, size, hasUnit))
        return true;
    hasUnit = false;
    return brenlo::string::parseOrDie<unsigned int>(text, size);
}

OptionRow<C> windowRow() {
    OptionRow<C> row =
        textRow<C>('w', "window", "Set the window size",
                   "  -w, --window\t\tSet the size of the window (default: 0)\n",
                   [](C& c, const std::string& value, const std::string&) {
                       return readWindow(value.c_str(), c.windowSize, c.windowHasUnit);
                   });
    row.check = [](const char* text) {
        unsigned int size = 0;
        bool hasUnit = false;
        return readWindow(text, size, hasUnit);
    };
    return row;
}

// Names given one at a time or as a comma-separated list.
void addNames(std::vector<std::string>& names, const std::string& list) {
    size_t from = 0;
    for (size_t comma; (comma = list.find(',', from)) != std::string::npos; from = comma + 1)
        names.push_back(list.substr(from, comma - from));
    names.push_back(list.substr(from));
}

std::vector<OptionRow<C>> inputRows() {
    return {
        textRow<C>('\0', "delimiter", "Set the input's cell delimiter.",
                   "      --delimiter=C\tSet the character between input cells (default: tab).\n",
                   [](C& c, const std::string& value, const std::string& option) {
                       if (value == "\\t" || value == "tab")
                           c.layout.delimiter = '\t';
                       else if (value.size() == 1 && value != "\"" && value != "\n" &&
                                value != "\r")
                           c.layout.delimiter = value[0];
                       else
                           return refuse(option, "one character (or \"tab\")", value);
                       return true;
                   }),
        {'\0', "csv", Domain::ALIAS, "Read a comma-separated input.",
         "      --csv\t\tRead a comma-separated input (--delimiter=,).\n",
         [](C& c, const CmdLine::Binding&) {
             c.layout.delimiter = ',';
             return true;
         }},
        {'\0', "xes", Domain::ALIAS, "Read an XES event log.",
         "      --xes\t\tRead an XES event log (told from its first bytes otherwise): traces "
         "are subjects; --subject, --time and --item name attribute keys.\n",
         [](C& c, const CmdLine::Binding&) {
             c.layout.xes = true;
             return true;
         }},
        textRow<C>('\0', "lifecycle", "Choose the XES events read.",
                   "      --lifecycle=L\tRead XES events whose lifecycle:transition is complete "
                   "(default) or all.\n",
                   [](C& c, const std::string& value, const std::string& option) {
                       if (value != "complete" && value != "all")
                           return refuse(option, "complete or all", value);
                       c.layout.allLifecycles = value == "all";
                       return true;
                   }),
        textRow<C>('\0', "inputs", "Read several tables.",
                   "      --inputs=LIST\tRead these tables (files, or folders of part files) "
                   "instead of [input].\n",
                   [](C& c, const std::string& value, const std::string&) {
                       addNames(c.inputs, value);
                       return true;
                   }),
        textRow<C>('\0', "subject", "Name the subject column.",
                   "      --subject=NAME\tRead the subject from the column so named in the "
                   "header.\n",
                   [](C& c, const std::string& value, const std::string&) {
                       c.layout.subject = value;
                       return true;
                   }),
        textRow<C>('\0', "time", "Name the time column.",
                   "      --time=NAME\tRead the time from the column so named in the header.\n",
                   [](C& c, const std::string& value, const std::string&) {
                       c.layout.time = value;
                       return true;
                   }),
        textRow<C>('\0', "item", "Name item columns.",
                   "      --item=NAME\tRead items from the columns so named (repeatable, or "
                   "a,b,c).\n",
                   [](C& c, const std::string& value, const std::string&) {
                       addNames(c.layout.items, value);
                       return true;
                   }),
        {'\0', "item-prefix", Domain::ALIAS, "Name items by their column.",
         "      --item-prefix\tName each item by its column, as resource=Mike, so columns "
         "named by --item stay apart.\n",
         [](C& c, const CmdLine::Binding&) {
             c.layout.itemPrefix = true;
             return true;
         }},
        textRow<C>('\0', "time-format", "Set how times are written.",
                   "      --time-format=F\tRead times as number (default), iso8601, unix or "
                   "unix-ms (then -w takes 90s, 30m, 12h, 7d or 2w).\n",
                   [](C& c, const std::string& value, const std::string& option) {
                       return parseTimeFormat(value, c.layout.timeFormat) ||
                              refuse(option, "number, iso8601, unix or unix-ms", value);
                   }),
    };
}

std::vector<OptionRow<C>> outputRows() {
    return {
        textRow<C>('\0', "format", "Set the tables' format.",
                   "      --format=F\tWrite the tables as tsv (default), csv or jsonl.\n",
                   [](C& c, const std::string& value, const std::string& option) {
                       return parseTableFormat(value, c.format) ||
                              refuse(option, "tsv, csv or jsonl", value);
                   }),
        textRow<C>('\0', "sort", "Sort the rules by a measure.",
                   "      --sort=MEASURE\tSort the rules by a measure, largest first (default: "
                   "rule order).\n",
                   [](C& c, const std::string& value, const std::string& option) {
                       c.selection.sortBy = findMeasure(value);
                       return c.selection.sortBy ||
                              refuse(option, ("one of " + measureNames()).c_str(), value);
                   }),
        {'\0', "top", Domain::UINT, "Keep the first rules only.",
         "      --top=N\t\tWrite only the first N rules.\n",
         [](C& c, const CmdLine::Binding& b) {
             c.selection.top = b.values[0].data.ui;
             return countAtLeast(c.selection.top, 1, b);
         }},
    };
}

// A p-value is a plain number from 0 to 1.
bool readProbability(const std::string& text, double& p) {
    char* end = nullptr;
    p = std::strtod(text.c_str(), &end);
    return !text.empty() && end == text.c_str() + text.size() && p >= 0 && p <= 1;
}

std::vector<OptionRow<C>> testRows() {
    return {
        textRow<C>('\0', "p-values", "Test each rule.",
                   "      --p-values=TESTS\tAdd each rule's p-values, plain and adjusted: "
                   "dependence, order, or both (dependence,order).\n",
                   [](C& c, const std::string& value, const std::string& option) {
                       std::vector<std::string> names;
                       addNames(names, value);
                       for (const std::string& name : names) {
                           if (name == "dependence")
                               c.pValues |= RuleSet::DEPENDENCE;
                           else if (name == "order")
                               c.pValues |= RuleSet::ORDER;
                           else
                               return refuse(option, "dependence, order or both", value);
                       }
                       return true;
                   }),
        textRow<C>('\0', "max-p", "Keep the rules that hold up.",
                   "      --max-p=P\t\tKeep only rules whose adjusted p-values (of --p-values; "
                   "default: every test) are at most P.\n",
                   [](C& c, const std::string& value, const std::string& option) {
                       return readProbability(value, c.maxP) ||
                              refuse(option, "a number from 0 to 1", value);
                   }),
        textRow<C>('\0', "adjust", "Choose how p-values are adjusted.",
                   "      --adjust=HOW\tAdjust p-values for the rules tested by holm "
                   "(default: the chance of any false rule) or bh (the share of false rules).\n",
                   [](C& c, const std::string& value, const std::string& option) {
                       if (value != "holm" && value != "bh")
                           return refuse(option, "holm or bh", value);
                       c.adjust = value == "bh" ? Adjustment::BH : Adjustment::HOLM;
                       return true;
                   }),
    };
}

std::vector<OptionRow<C>> bestRows() {
    return {
        {'\0', "best", Domain::UINT, "Keep the best rules by count.",
         "      --best=K\t\tKeep the K rules of highest count (ties kept), finding the count "
         "instead of -c, which it stays at or above.\n",
         [](C& c, const CmdLine::Binding& b) {
             c.best = b.values[0].data.ui;
             return countAtLeast(c.best, 1, b);
         }},
        // Only measures that fall with the count threshold can be searched so.
        textRow<C>('\0', "by", "Choose what --best ranks by.",
                   "      --by=MEASURE\tRank --best by count (default) or support, its share of "
                   "the subjects.\n",
                   [](C& c, const std::string& value, const std::string& option) {
                       c.bestBy = value;
                       return value == "count" || value == "support" ||
                              refuse(option, "count or support", value);
                   }),
    };
}

OptionTable<C> makeTable() {
    // Mining needs every frequent set held by at least one subject.
    const ThresholdRows<C> t = thresholdRows<C>(1);
    OptionTable<C> table = {
        helpRow<C>(),
        shortHelpRow<C>(),
        t.count,
        t.confidence,
        wholeRow<C, unsigned int>(
            'j', "threads", "Set the number of threads.",
            "  -j, --threads=i\tSet the number of threads (default: one per processor).\n",
            &C::threads),
        t.lift,
        memoryRow(),
        wholeRow<C, unsigned int>(
            'o', "order", "Set the maximum rule order to mine.",
            "  -o, --order=i\t\tSet the maximum rule order to mine (default: 0).\n", &C::maxOrder),
        t.support,
        t.conviction,
        verboseRow<C>("  -v, --verbose\t\tPrint additional information.\n"),
        windowRow(),
        textRow<C>('\0', "rules", "Choose the rules mined.",
                   "      --rules=KIND\tMine ordered rules, B after A (default), or basket "
                   "rules, A and b held together in any order.\n",
                   [](C& c, const std::string& value, const std::string& option) {
                       if (value != "ordered" && value != "basket")
                           return refuse(option, "ordered or basket", value);
                       c.rules = value == "basket" ? RuleKind::BASKET : RuleKind::ORDERED;
                       return true;
                   }),
        textRow<C>(
            '\0', "subsequent", "Keep rules leading to these items.",
            "      --subsequent=ITEM\tKeep only rules whose subsequent holds nothing but these "
            "items (repeatable, or a,b,c).\n",
            [](C& c, const std::string& value, const std::string&) {
                addNames(c.constraints.subsequent, value);
                return true;
            }),
        textRow<C>('\0', "antecedent", "Keep rules following these items.",
                   "      --antecedent=ITEM\tKeep only rules whose antecedent holds all of these "
                   "items (repeatable, or a,b,c).\n",
                   [](C& c, const std::string& value, const std::string&) {
                       addNames(c.constraints.antecedent, value);
                       return true;
                   }),
        textRow<C>('\0', "exclude", "Keep rules without these items.",
                   "      --exclude=ITEM\tKeep only rules that hold none of these items "
                   "(repeatable, or a,b,c).\n",
                   [](C& c, const std::string& value, const std::string&) {
                       addNames(c.constraints.exclude, value);
                       return true;
                   }),
        {'\0', "productive", Domain::ALIAS, "Keep productive rules only.",
         "      --productive\tKeep only rules of lift above 1 whose confidence passes that of "
         "every rule with a smaller antecedent and the same subsequent.\n",
         [](C& c, const CmdLine::Binding&) {
             c.productive = true;
             return true;
         }},
        {'\0', "delays", Domain::ALIAS, "Report each rule's delays.",
         "      --delays\t\tAdd each rule's delays from antecedent to subsequent: least, median, "
         "90th percentile, greatest.\n",
         [](C& c, const CmdLine::Binding&) {
             c.delays = true;
             return true;
         }},
    };
    for (auto rows : {testRows(), bestRows()})
        table.insert(table.end(), rows.begin(), rows.end());
    for (auto rows : {inputRows(), outputRows()})
        table.insert(table.end(), rows.begin(), rows.end());
    table.push_back(versionRow<C>());
    return table;
}

} // namespace


const OptionTable<Configuration>& optionTable() {
    static const OptionTable<Configuration> table = makeTable();
    return table;
}

Configuration configure(int argc, char** argv) {
    // Whether an output operand was given matters once --inputs shifts them.
    const char* const UNSET = "\x01";
    Configuration config;
    config.outputFile = UNSET;
    parseCommandLine(
        config, optionTable(),
        {{"input", &C::inputFile}, {"output", &C::outputFile}, {"item-sets", &C::itemSetFile}},
        argc, argv);
    const bool outputGiven = config.outputFile != UNSET;
    if (!outputGiven)
        config.outputFile = "-";
    if (!config.inputs.empty()) {
        // The operands are then [output] [item-sets].
        config.itemSetFile = outputGiven ? config.outputFile : "";
        config.outputFile = config.inputFile;
    }
    // An XES log is told by its first bytes; its times are timestamps.
    if (!config.layout.xes && config.inputs.empty() && mining::looksLikeXml(config.inputFile))
        config.layout.xes = true;
    if (config.layout.xes)
        config.layout.timeFormat = TimeFormat::ISO8601;
    if (config.layout.itemPrefix && config.layout.items.empty() && !config.layout.xes) {
        // Without names the header is not read, and there are none to use.
        std::fprintf(stderr, "Option \"--item-prefix\" needs --item to name the item columns.\n");
        std::exit(1);
    }
    if (config.windowHasUnit && !isTimestamp(config.layout.timeFormat)) {
        // Plain numbers may count anything; a unit would silently mean seconds.
        std::fprintf(stderr,
                     "Option \"-w, --window\" takes a duration with a unit only when times are "
                     "timestamps (--time-format=iso8601, unix or unix-ms).\n");
        std::exit(1);
    }
    refuseConflicts(config);
    // Without an item-set table the search may skip the sets no kept rule needs.
    config.allItemSets = !config.itemSetFile.empty();
    if (config.memoryBudget == 0)
        config.memoryBudget = defaultMemoryBudget();
    if (config.threads == 0)
        config.threads = brenlo::availableThreads();
    return config;
}

} // namespace quorvel::rule
