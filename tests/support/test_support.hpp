// Helpers shared by the tests: temporary folders, files, and running the
// built programs as a user would.
#pragma once

#include "quorvel/rule.hpp"

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

} // namespace testsupport
