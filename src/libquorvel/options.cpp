#include "quorvel/options.hpp"

#include "brenlo/string.hpp"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace quorvel {

std::string optionName(const brenlo::cmdline::Option& option) {
    std::string name;
    if (option.shortKey())
        name = std::string("-") + option.shortKey();
    if (!option.longKey().empty())
        name += (name.empty() ? "--" : ", --") + option.longKey();
    return name;
}

double thresholdValue(const brenlo::cmdline::CmdLine::Binding& binding, bool& ok) {
    const std::string& text = binding.values[0].raw;
    const double value = brenlo::string::parse<double>(text);
    if (std::isnan(value)) {
        std::fprintf(stderr, "Option \"%s\" needs a number, not \"%s\".\n",
                     optionName(*binding.source).c_str(), text.c_str());
        ok = false;
    }
    return value;
}

bool countAtLeast(size_t count, size_t least, const brenlo::cmdline::CmdLine::Binding& binding) {
    if (count >= least)
        return true;
    // A count of 0 makes every candidate frequent: the search has no end.
    std::fprintf(stderr, "Option \"%s\" must be at least %lu, not %lu.\n",
                 optionName(*binding.source).c_str(), static_cast<unsigned long>(least),
                 static_cast<unsigned long>(count));
    return false;
}

double noneWhenNegative(double maximum) {
    return maximum < 0.0 ? std::numeric_limits<double>::infinity() : maximum;
}

const char* version() {
    return QUORVEL_VERSION;
}

void printVersion(const char* argv0) {
    const char* slash = std::strrchr(argv0, '/');
    std::printf("%s %s\n", slash ? slash + 1 : argv0, version());
    std::fflush(stdout);
}

void printUsage(const char* program, const char* operands, const std::vector<const char*>& lines) {
    std::fprintf(stderr, "usage: %s %s\n\nOPTIONS:\n", program, operands);
    for (const char* line : lines)
        std::fputs(line, stderr);
    std::fputs("\n", stderr);
}

} // namespace quorvel
