// A program's command line as one table: each option is one row saying how
// it is written, what its usage line says and where its value goes. The
// parser's registration, the usage text and the applying of parsed values
// are all made from that table, so adding an option means adding a row.
#pragma once

#include "brenlo/cmdline.hpp"
#include "quorvel/thresholds.hpp"

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace quorvel {

/// A word of the command line that is not an option, by position: its name
/// in the usage text and where it goes. Words beyond the last are ignored.
template <class Config> struct Operand {
    const char* name;
    std::string Config::*field;
};

template <class Config> struct OptionRow {
    char shortKey;       // '\0' for none
    const char* longKey; // "" for none
    brenlo::cmdline::Domain::Value domain;
    const char* description; // as registered with the parser
    const char* usage;       // its line of the usage text; "" for none
    /// Stores the value; false, after a message on standard error, refuses it.
    std::function<bool(Config&, const brenlo::cmdline::CmdLine::Binding&)> apply;
    /// For a text option: the value checked as the parser meets it (see
    /// brenlo::cmdline::Option::check); none by default.
    std::function<bool(const char*)> check = nullptr;
};

template <class Config> using OptionTable = std::vector<OptionRow<Config>>;

// ---- the helpers every table is made of ----

/// "-C, --confidence": an option as messages name it.
std::string optionName(const brenlo::cmdline::Option& option);

/// A threshold's value in double precision, read from its text (the parser
/// has already checked the text as a number). NaN, which no comparison
/// admits, is refused: a message naming the option goes to standard error
/// and `ok` becomes false.
double thresholdValue(const brenlo::cmdline::CmdLine::Binding& binding, bool& ok);

/// False, with a message naming the option, when a count is below the
/// least accepted.
bool countAtLeast(size_t count, size_t least, const brenlo::cmdline::CmdLine::Binding& binding);
/// A negative maximum means no maximum.
double noneWhenNegative(double maximum);

/// The project's version, "1.2.0".
const char* version();

/// "PROGRAM VERSION" on standard output, PROGRAM being the last part of
/// `argv0`.
void printVersion(const char* argv0);

/// The usage text: "usage: PROGRAM OPERANDS", then the rows' usage lines.
void printUsage(const char* program, const char* operands, const std::vector<const char*>& lines);

template <class Config>
OptionRow<Config> flagRow(char s, const char* l, const char* description, const char* usage,
                          bool Config::*field) {
    return {s,
            l,
            brenlo::cmdline::Domain::ALIAS,
            description,
            usage,
            [field](Config& c, const brenlo::cmdline::CmdLine::Binding&) {
                c.*field = true;
                return true;
            }};
}

/// "-?, --help": shows the usage text.
template <class Config> OptionRow<Config> helpRow() {
    return flagRow<Config>('?', "help", "Display this message.",
                           "  -?, --help\t\tDisplay this message.\n", &Config::help);
}

/// "-h", the other name most programs give their help.
template <class Config> OptionRow<Config> shortHelpRow() {
    return flagRow<Config>('h', "", "Display this message.",
                           "  -h\t\t\tDisplay this message, as -? does.\n", &Config::help);
}

/// "--version": prints the program's name and version.
template <class Config> OptionRow<Config> versionRow() {
    return flagRow<Config>('\0', "version", "Print the version.",
                           "      --version\t\tPrint the program's version and exit.\n",
                           &Config::version);
}

/// An option taking a word, which `read` stores or refuses (after saying
/// why on standard error).
template <class Config>
OptionRow<Config>
textRow(char s, const char* l, const char* description, const char* usage,
        std::function<bool(Config&, const std::string&, const std::string&)> read) {
    return {s,
            l,
            brenlo::cmdline::Domain::STRING,
            description,
            usage,
            [read](Config& c, const brenlo::cmdline::CmdLine::Binding& b) {
                return read(c, b.values[0].raw, optionName(*b.source));
            }};
}

/// "-v, --verbose", accepted and without effect; `usage` is its line.
template <class Config> OptionRow<Config> verboseRow(const char* usage) {
    return flagRow<Config>('v', "verbose", "Print additional information.", usage,
                           &Config::verbose);
}

template <class Config, class Field>
OptionRow<Config> wholeRow(char s, const char* l, const char* description, const char* usage,
                           Field Config::*field) {
    return {s,
            l,
            brenlo::cmdline::Domain::UINT,
            description,
            usage,
            [field](Config& c, const brenlo::cmdline::CmdLine::Binding& b) {
                c.*field = b.values[0].data.ui;
                return true;
            }};
}

template <class Config>
OptionRow<Config> realRow(char s, const char* l, const char* description, const char* usage,
                          double Config::*field) {
    return {s,
            l,
            brenlo::cmdline::Domain::FLOAT,
            description,
            usage,
            [field](Config& c, const brenlo::cmdline::CmdLine::Binding& b) {
                bool ok = true;
                c.*field = thresholdValue(b, ok);
                return ok;
            }};
}

/// The five threshold options both programs share, for each to place in
/// its table. `minCount` is the least count accepted.
template <class Config> struct ThresholdRows {
    OptionRow<Config> count, confidence, lift, support, conviction;
};

template <class Config> ThresholdRows<Config> thresholdRows(size_t minCount) {
    ThresholdRows<Config> rows{
        wholeRow<Config, size_t>(
            'c', "count", "Set the minimum count necessary for inclusion.",
            "  -c, --count=i\t\tSet the minimum count necessary for inclusion (default: 5).\n",
            &Config::minCount),
        realRow<Config>('C', "confidence", "Set the minimum confidence necessary for inclusion.",
                        "  -C, --confidence=f\tSet the minimum confidence necessary for inclusion "
                        "(default: 0).\n",
                        &Config::minConfidence),
        realRow<Config>(
            'l', "lift", "Set the minimum lift necessary for inclusion.",
            "  -l, --lift=f\t\tSet the minimum lift necessary for inclusion (default: 0).\n",
            &Config::minLift),
        realRow<Config>('s', "support", "Set the minimum support necessary for inclusion.",
                        "  -s, --support=f\tSet the minimum support necessary for inclusion "
                        "(default: 0).\n",
                        &Config::minSupport),
        realRow<Config>('V', "conviction", "Set the maximum conviction necessary for inclusion.",
                        "  -V, --conviction=f\tSet the maximum conviction neccessary for inclusion "
                        "(default: infinity).\n",
                        &Config::maxConviction)};
    rows.count.apply = [minCount](Config& c, const brenlo::cmdline::CmdLine::Binding& b) {
        c.minCount = b.values[0].data.ui;
        return countAtLeast(c.minCount, minCount, b);
    };
    rows.conviction.apply = [](Config& c, const brenlo::cmdline::CmdLine::Binding& b) {
        bool ok = true;
        c.maxConviction = noneWhenNegative(thresholdValue(b, ok));
        return ok;
    };
    return rows;
}

/// Registers every row with `cmd`; the serial of each row, in table order.
template <class Config>
std::vector<brenlo::cmdline::CmdLine::Serial> registerOptions(brenlo::cmdline::CmdLine& cmd,
                                                              const OptionTable<Config>& table) {
    std::vector<brenlo::cmdline::CmdLine::Serial> serials;
    for (const OptionRow<Config>& row : table) {
        brenlo::cmdline::Option option(row.domain, row.description,
                                       row.domain == brenlo::cmdline::Domain::ALIAS ? 0 : 1, false);
        option.check = row.check;
        serials.push_back(cmd.add(row.shortKey, row.longKey, option));
    }
    return serials;
}

/// Stores each parsed binding through its row; false if any was refused.
template <class Config>
bool applyBindings(Config& config, const OptionTable<Config>& table,
                   const std::vector<brenlo::cmdline::CmdLine::Serial>& serials,
                   const brenlo::cmdline::CmdLine::Result& result) {
    bool valid = true;
    for (size_t k = 0; k < result.bindings.size(); ++k) {
        const brenlo::cmdline::CmdLine::Binding& b = result.bindings[k];
        for (size_t r = 0; r < table.size(); ++r)
            if (serials[r] == b.source->serial())
                valid = table[r].apply(config, b) && valid;
    }
    return valid;
}

/// Parses the command line through `table` and `operands`. Help
/// (`config.help`) prints the usage text and exits with 0; a mistake prints
/// it and exits with 1.
template <class Config>
void parseCommandLine(Config& config, const OptionTable<Config>& table,
                      const std::vector<Operand<Config>>& operands, int argc, char** argv) {
    brenlo::cmdline::CmdLine cmd;
    const auto serials = registerOptions(cmd, table);
    const brenlo::cmdline::CmdLine::Result result = cmd.parse(argc, argv);
    const bool valid = applyBindings(config, table, serials, result);
    if (config.version && result && valid && !config.help) {
        printVersion(argv[0]);
        std::exit(0);
    }
    if (config.help || !result || !valid) {
        std::string names;
        for (const Operand<Config>& operand : operands)
            names += std::string(names.empty() ? "" : " ") + "[" + operand.name + "]";
        std::vector<const char*> lines;
        for (const OptionRow<Config>& row : table)
            if (*row.usage)
                lines.push_back(row.usage);
        printUsage(argv[0], names.c_str(), lines);
        std::exit(result && valid ? 0 : 1);
    }
    for (size_t k = 0; k < operands.size() && k < result.excess.size(); ++k)
        config.*operands[k].field = result.excess[k];
}

} // namespace quorvel
