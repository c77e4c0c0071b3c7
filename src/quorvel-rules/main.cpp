// quorvel-rules: mines a transaction table for sequential association rules.
#include "budget.hpp"
#include "config.hpp"
#include "ingest.hpp"
#include "mine.hpp"
#include "options.hpp"
#include "peers.hpp"
#include "shared_read.hpp"

#include "brenlo/meter.hpp"
#include "quorvel/driver.hpp"

#include <cstdlib>
#include <iostream>
#include <memory>
#include <streambuf>
#include <string>
#include <unistd.h>
#include <vector>

using namespace quorvel::rule;
using mining::peers;
using mining::together;

namespace {

// What processes other than the first write to standard error: nothing.
class Silence : public std::streambuf {
protected:
    int overflow(int c) override { return c == EOF ? 0 : c; }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

mining::EventLog readTxns(const Configuration& config) {
    mining::EventLog log;
    if (config.inputs.empty() && peers().alone()) {
        log = mining::readEventLog(config.inputFile, config.layout, config.threads);
    } else {
        std::vector<std::string> files;
        together([&] { files = mining::inputFiles(config.inputPaths()); });
        log = mining::readShared(files, config.layout, config.threads);
    }
    const uint64_t transactions = peers().total(log.transactions());
    const uint64_t subjects = peers().total(log.subjects());
    std::cerr << "Read " << config.inputName() << " with " << transactions
              << " transaction(s) over " << subjects << " history record(s)." << std::endl;
    return log;
}

void writeRules(const Configuration& config, const MiningResult& result, std::ostream& out) {
    writeRuleTable(out, result.rules(), config.format, config.selection);
}

void writeIS(const Configuration& config, const MiningResult& result, std::ostream& out) {
    writeItemSetTable(out, result.itemSets(), config.format);
}

void mine(const Configuration& config) {
    // Every output is opened before the input is read, so a bad path fails
    // now rather than after the mining. Only the first process writes.
    quorvel::OutputSet out;
    std::ostream* rulesOut = nullptr;
    std::ostream* itemSetsOut = nullptr;
    together([&] {
        if (!peers().leads())
            return;
        std::vector<std::string> outputs{config.outputFile};
        if (!config.itemSetFile.empty())
            outputs.push_back(config.itemSetFile);
        quorvel::refuseSharedFiles(mining::inputFiles(config.inputPaths()), outputs);
        rulesOut = &out.add(config.outputFile);
        if (!config.itemSetFile.empty())
            itemSetsOut = &out.add(config.itemSetFile);
    });

    MiningResult result = quorvel::rule::mine(config, readTxns(config));
    together([&] {
        if (!peers().leads())
            return;
        writeRules(config, result, *rulesOut);
        std::cerr << config.itemSetFile << std::endl;
        if (itemSetsOut)
            writeIS(config, result, *itemSetsOut);
        out.commit();
    });
}

} // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    if (std::unique_ptr<mining::Peers> p = mining::mpiPeers(argc, argv))
        mining::setPeers(std::move(p));
    Silence silence;
    if (!peers().leads())
        std::cerr.rdbuf(&silence);
    int status = quorvel::runReportingFailures(
        [&] {
            Configuration config = configure(argc, argv);
            if (peers().leads() && ::isatty(STDERR_FILENO))
                brenlo::term::Meter::live().drawTo(STDERR_FILENO);
            capAddressSpace(config.memoryBudget);
            mine(config);
        },
        "Out of memory: raise -c, or set -o to limit the rule order.");
    // Ending here, with every output out, spares taking millions of tree
    // nodes apart one by one, which on a large log costs more than mining.
    std::cerr.flush();
    mining::setPeers(std::make_unique<mining::Peers>());
    std::_Exit(status);
}
