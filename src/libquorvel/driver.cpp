#include "quorvel/driver.hpp"

#include "brenlo/exception.hpp"
#include "brenlo/replace.hpp"
#include "brenlo/string.hpp"

#include <cmath>
#include <csignal>
#include <exception>
#include <iostream>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvel {

int runReportingFailures(const std::function<void()>& work, const std::string& outOfMemory) {
    // A reader that went away (`| head -1`) makes a write fail with EPIPE,
    // which the outputs report and clean up after; standard error's
    // failures are let pass, as there is no one left to tell.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        work();
    } catch (std::exception* e) {
        std::cerr << e->what() << std::endl;
        delete e;
        return 2;
    } catch (const std::bad_alloc&) {
        std::cerr << outOfMemory << std::endl;
        return 2;
    } catch (const std::exception& e) {
        std::cerr << e.what() << std::endl;
        return 2;
    }
    return 0;
}

namespace {

// What names a file: its device and inode, or, for a file not yet there,
// its folder's and its own name.
struct FileIdentity {
    dev_t dev = 0;
    ino_t ino = 0;
    std::string name;
    bool known = false;

    bool operator==(const FileIdentity& o) const {
        return known && o.known && dev == o.dev && ino == o.ino && name == o.name;
    }
};

FileIdentity identify(const std::string& path) {
    FileIdentity id;
    if (path == "-")
        return id;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        // Devices and pipes may well be shared (/dev/null twice).
        if (S_ISREG(st.st_mode)) {
            id.dev = st.st_dev;
            id.ino = st.st_ino;
            id.known = true;
        }
        return id;
    }
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    if (::stat(folder.c_str(), &st) == 0) {
        id.dev = st.st_dev;
        id.ino = st.st_ino;
        id.name = slash == std::string::npos ? path : path.substr(slash + 1);
        id.known = true;
    }
    return id;
}

[[noreturn]] void refuse(const char* format, const std::string& a, const std::string& b) {
    throw brenlo::IOException(brenlo::string::strprintf(format, a.c_str(), b.c_str()));
}

} // namespace

void refuseSharedFiles(const std::vector<std::string>& inputs,
                       const std::vector<std::string>& outputs) {
    std::vector<FileIdentity> seen;
    for (const std::string& out : outputs)
        seen.push_back(identify(out));
    for (const std::string& in : inputs) {
        FileIdentity id = identify(in);
        for (size_t k = 0; k < outputs.size(); ++k)
            if (seen[k] == id)
                refuse("Output \"%s\" is the same file as input \"%s\"; it would be overwritten.",
                       outputs[k], in);
    }
    for (size_t j = 0; j < outputs.size(); ++j)
        for (size_t k = j + 1; k < outputs.size(); ++k)
            if (seen[j] == seen[k])
                refuse("Outputs \"%s\" and \"%s\" are the same file.", outputs[j], outputs[k]);
}

OutputSet::OutputSet() = default;
OutputSet::~OutputSet() = default;

std::ostream& OutputSet::add(const std::string& path) {
    if (path != "-") {
        m_outputs.emplace_back(new brenlo::io::PendingOutput(path));
        return m_outputs.back()->stream();
    }
    // One buffer for standard output, so outputs sent there never interleave.
    if (!m_stdout) {
        m_outputs.emplace_back(new brenlo::io::PendingOutput(STDOUT_FILENO, "standard output"));
        m_stdout = m_outputs.back().get();
    }
    return m_stdout->stream();
}

void OutputSet::commit() {
    for (auto& out : m_outputs)
        out->finish();
    for (auto& out : m_outputs)
        out->commit();
}

} // namespace quorvel
