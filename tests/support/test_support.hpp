// Helpers shared by the tests: temporary folders, files, and running the
// built programs as a user would.
#pragma once

#include "quorvel/rule.hpp"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace testsupport {

/// A fresh folder, removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

void writeFile(const std::string& path, const std::string& content);
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);

struct RunResult {
    int status = -1; // exit status, or 128 + signal
    std::string out;
    std::string err;
};

/// Runs `program` with `args` in `cwd`, feeding `input` on standard input.
RunResult run(const std::string& program, const std::vector<std::string>& args,
              const std::string& input = "", const std::string& cwd = "");

inline RunResult runRules(const std::vector<std::string>& args, const std::string& input = "",
                          const std::string& cwd = "") {
    return run(QUORVEL_RULES_BIN, args, input, cwd);
}
inline RunResult runLinks(const std::vector<std::string>& args, const std::string& input = "",
                          const std::string& cwd = "") {
    return run(QUORVEL_LINKS_BIN, args, input, cwd);
}

/// The item set of the given names.
quorvel::rule::ItemSet set(std::initializer_list<const char*> items);

/// A transaction set read from table text (header line included).
quorvel::rule::TransactionSet transactions(const std::string& table);

/// The folder of shared real data sets, or "" when it is absent.
std::string sharedDataDir();

/// The items of a JSON array of plain names under `key`, as the miner
/// writes a side of a rule in JSON Lines.
quorvel::rule::ItemSet jsonItems(const std::string& record, const std::string& key);

/// Whether history `h` observes A => B as the rule test is written: some
/// transaction holds all of B, none of B's items was seen in an earlier one
/// within `window` (0: any earlier one), all of A's were, and it does not
/// hold all of A. With `delay`, that transaction's time minus the latest
/// time before it at which an item of A was seen.
bool plainObserves(const quorvel::rule::History& h, const quorvel::rule::ItemSet& a,
                   const quorvel::rule::ItemSet& b, quorvel::rule::History::Time window,
                   uint64_t* delay = nullptr);

} // namespace testsupport
