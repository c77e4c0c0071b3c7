// quorvel-rules: mines a transaction table for sequential association rules.
#include "budget.hpp"
#include "config.hpp"
#include "ingest.hpp"
#include "mine.hpp"
#include "options.hpp"

#include "brenlo/meter.hpp"
#include "quorvel/driver.hpp"

#include <cstdlib>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace quorvel::rule;

namespace {

mining::EventLog readTxns(const Configuration& config, const std::string& path) {
    mining::EventLog log = mining::readEventLog(path, config.layout, config.threads);
    std::cerr << "Read " << path << " with " << log.transactions() << " transaction(s) over "
              << log.subjects() << " history record(s)." << std::endl;
    return log;
}

void writeRules(const Configuration& config, const MiningResult& result, std::ostream& out) {
    writeRuleTable(out, result.rules(), config.format, config.selection);
}

void writeIS(const Configuration& config, const MiningResult& result, std::ostream& out) {
    writeItemSetTable(out, result.itemSets(), config.format);
}

void mine(const Configuration& config) {
    std::vector<std::string> outputs{config.outputFile};
    if (!config.itemSetFile.empty())
        outputs.push_back(config.itemSetFile);
    quorvel::refuseSharedFiles({config.inputFile}, outputs);
    // Every output is opened before the input is read, so a bad path fails
    // now rather than after the mining.
    quorvel::OutputSet out;
    std::ostream& rulesOut = out.add(config.outputFile);
    std::ostream* itemSetsOut = config.itemSetFile.empty() ? nullptr : &out.add(config.itemSetFile);

    MiningResult result = quorvel::rule::mine(config, readTxns(config, config.inputFile));
    writeRules(config, result, rulesOut);
    std::cerr << config.itemSetFile << std::endl;
    if (itemSetsOut)
        writeIS(config, result, *itemSetsOut);
    out.commit();
}

} // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    int status = quorvel::runReportingFailures(
        [&] {
            Configuration config = configure(argc, argv);
            if (::isatty(STDERR_FILENO))
                brenlo::term::Meter::live().drawTo(STDERR_FILENO);
            capAddressSpace(config.memoryBudget);
            mine(config);
        },
        "Out of memory: raise -c, or set -o to limit the rule order.");
    // Ending here, with every output out, spares taking millions of tree
    // nodes apart one by one, which on a large log costs more than mining.
    std::cerr.flush();
    std::_Exit(status);
}
