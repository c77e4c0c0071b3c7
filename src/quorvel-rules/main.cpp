// quorvel-rules: mines a transaction table for sequential association rules.
#include "config.hpp"
#include "ingest.hpp"
#include "mpi_peers.hpp"
#include "options.hpp"
#include "quorvel/budget.hpp"
#include "shared_read.hpp"
#include "xes.hpp"

#include "brenlo/exception.hpp"
#include "brenlo/meter.hpp"
#include "quorvel/driver.hpp"
#include "quorvel/mine.hpp"
#include "quorvel/peers.hpp"

#include <cstdlib>
#include <fcntl.h>
#include <iostream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

using namespace quorvel::rule;

namespace {

// Processes other than the first print nothing, whatever prints it (the
// usage text and --version included): the first speaks for all.
void silenceFollower() {
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0)
        return;
    ::dup2(null, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
    ::close(null);
}

// The files read: the input operand as it is (a folder there is refused
// when opened), or the files and folders of --inputs.
std::vector<std::string> inputList(const Configuration& config) {
    return config.inputs.empty() ? std::vector<std::string>{config.inputFile}
                                 : mining::inputFiles(config.inputs);
}

EventLog readTxns(const Configuration& config, const MiningContext& context) {
    const Peers& peers = *context.peers;
    mining::IngestSizes sizes;
    sizes.progress = context.progress;
    sizes.memoryBudget = config.memoryBudget;
    EventLog log;
    if (config.layout.xes) {
        // An XML stream has no place to cut it: one process reads it.
        if (!config.inputs.empty() || !peers.alone())
            throw brenlo::IOException("An XES log is read from one file by one process; give it "
                                      "as the input, without --inputs or mpirun.");
        log = mining::readXesLog(config.inputFile, mining::xesLayoutOf(config.layout),
                                 config.threads, sizes);
    } else if (config.inputs.empty() && peers.alone()) {
        log = mining::readEventLog(config.inputFile, config.layout, config.threads, sizes);
    } else {
        std::vector<std::string> files;
        together(peers, [&] {
            files = inputList(config);
            if (files.size() > 1)
                mining::checkParts(files);
        });
        log = mining::readShared(peers, files, config.layout, config.threads, sizes);
    }
    const uint64_t transactions = peers.total(log.transactions());
    const uint64_t subjects = peers.total(log.subjects());
    std::cerr << "Read " << config.inputName() << " with " << transactions
              << " transaction(s) over " << subjects << " history record(s)." << std::endl;
    SkippedRows skipped;
    skipped.noSubject = peers.total(log.skipped.noSubject);
    skipped.noItem = peers.total(log.skipped.noItem);
    skipped.notComplete = peers.total(log.skipped.notComplete);
    if (!skipped.message().empty())
        std::cerr << skipped.message() << std::endl;
    return log;
}

void writeRules(const Configuration& config, const MiningResult& result, std::ostream& out) {
    writeRuleTable(out, result.rules(), config.format, config.selection);
}

void writeIS(const Configuration& config, const MiningResult& result, std::ostream& out) {
    writeItemSetTable(out, result.itemSets(), config.format);
}

// `kept` takes the result, so that its owner can leave it to the process's end.
void mine(const Configuration& config, const MiningContext& context,
          std::unique_ptr<MiningResult>& kept) {
    const Peers& peers = *context.peers;
    // Every output is opened before the input is read, so a bad path fails
    // now rather than after the mining. Only the first process writes.
    quorvel::OutputSet out;
    std::ostream* rulesOut = nullptr;
    std::ostream* itemSetsOut = nullptr;
    together(peers, [&] {
        if (!peers.leads())
            return;
        std::vector<std::string> outputs{config.outputFile};
        if (!config.itemSetFile.empty())
            outputs.push_back(config.itemSetFile);
        quorvel::refuseSharedFiles(inputList(config), outputs);
        rulesOut = &out.add(config.outputFile);
        if (!config.itemSetFile.empty())
            itemSetsOut = &out.add(config.itemSetFile);
    });

    kept = std::make_unique<MiningResult>(
        quorvel::rule::mine(config, readTxns(config, context), context));
    const MiningResult& result = *kept;
    together(peers, [&] {
        if (!peers.leads())
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
    // Static, so that the usage text's and --version's std::exit end MPI too.
    static std::unique_ptr<Peers> peers = mining::mpiPeers(argc, argv);
    if (!peers)
        peers = std::make_unique<Peers>();
    if (!peers->leads())
        silenceFollower();
    // The result outlives the run, for std::_Exit below to drop.
    std::unique_ptr<MiningResult> result;
    int status = quorvel::runReportingFailures(
        [&] {
            Configuration config = configure(argc, argv);
            brenlo::term::Meter& meter = brenlo::term::Meter::live();
            const bool drawn = peers->leads() && ::isatty(STDERR_FILENO);
            if (drawn)
                meter.drawTo(STDERR_FILENO);
            capAddressSpace(config.memoryBudget);
            keepFreedMemory();
            MiningContext context;
            context.messages = &std::cerr;
            context.progress = drawn ? &meter : nullptr;
            context.peers = peers.get();
            mine(config, context, result);
        },
        "Out of memory: raise -c, or set -o to limit the rule order.");
    // Ending here, with every output out, spares taking the result's
    // millions of tree nodes apart one by one, which on a large log costs
    // more than mining.
    std::cerr.flush();
    peers.reset(); // ends MPI
    std::_Exit(status);
}
