// Every seed and every input a fuzzer ever crashed on, run again each time.
#include "harnesses.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <dirent.h>
#include <string>
#include <vector>

namespace {

std::vector<std::string> filesIn(const std::string& dir, const std::string& prefix) {
    std::vector<std::string> out;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            std::string name = e->d_name;
            if (name[0] != '.' && name.compare(0, prefix.size(), prefix) == 0)
                out.push_back(dir + "/" + name);
        }
        ::closedir(d);
    }
    return out;
}

} // namespace

TEST(FuzzRegression, SeedsAndSavedCrashesPass) {
    const std::string root = std::string(QUORVEL_SOURCE_DIR) + "/tests/fuzz";
    size_t inputs = 0;
    for (size_t t = 0; t < fuzz::TARGET_COUNT; ++t) {
        const fuzz::Target& target = fuzz::TARGETS[t];
        std::vector<std::string> files = filesIn(root + "/corpus/" + target.name, "");
        for (const std::string& f : filesIn(root + "/crashes", std::string(target.name) + "-"))
            files.push_back(f);
        for (const std::string& f : files) {
            std::string bytes = testsupport::readFile(f);
            EXPECT_NO_THROW(
                target.run(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()))
                << target.name << ": " << f;
            ++inputs;
        }
    }
    EXPECT_GT(inputs, 20u);
}
