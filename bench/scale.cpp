// Scales a real transaction table up with copies of its subjects, so the
// benchmark has process logs of millions of rows that behave like real ones.
//
//   quorvel-scale COPIES DROP REPEAT SEED < table.tsv > scaled.tsv
//
// Copy c renames every subject "NAME#c" and shifts the copy's times by a
// random offset. Each row of a copy is left out with probability DROP and
// written twice, the second time one time unit later, with probability
// REPEAT, so copies differ from each other and from the original: tricks
// that count identical histories once cannot make the log trivial. DROP = 0
// and REPEAT = 0 give plain replicas.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <random>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s COPIES DROP REPEAT SEED < table > scaled\n", argv[0]);
        return 1;
    }
    const long copies = std::atol(argv[1]);
    const double drop = std::atof(argv[2]), repeat = std::atof(argv[3]);
    std::mt19937_64 rng(static_cast<unsigned long>(std::atol(argv[4])));
    std::uniform_real_distribution<double> chance(0, 1);

    std::string header;
    std::getline(std::cin, header);
    struct Row {
        std::string subject;
        unsigned long time;
        std::string rest; // the item cells, tab first
    };
    std::vector<Row> rows;
    for (std::string line; std::getline(std::cin, line);) {
        const size_t a = line.find('\t');
        const size_t b = line.find('\t', a + 1);
        if (a == std::string::npos)
            continue;
        rows.push_back({line.substr(0, a), std::stoul(line.substr(a + 1, b - a - 1)),
                        b == std::string::npos ? std::string() : line.substr(b)});
    }
    std::string out = header + "\n";
    for (long c = 0; c < copies; ++c) {
        const unsigned long shift = drop > 0 || repeat > 0 ? rng() % 100000 : 0;
        const std::string suffix = "#" + std::to_string(c);
        for (const Row& r : rows) {
            if (drop > 0 && chance(rng) < drop)
                continue;
            const int times = repeat > 0 && chance(rng) < repeat ? 2 : 1;
            for (int k = 0; k < times; ++k) {
                out +=
                    r.subject + suffix + "\t" + std::to_string(r.time + shift + k) + r.rest + "\n";
            }
        }
        if (out.size() > (1u << 24)) {
            std::fwrite(out.data(), 1, out.size(), stdout);
            out.clear();
        }
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}
