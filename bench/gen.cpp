// Writes a synthetic transaction table with planted sequential patterns.
//
//   quorvel-gen ROWS [SUBJECTS] [ITEMS] [SEED] > table.tsv
//
// Subjects get about ROWS / SUBJECTS rows each. Items are drawn with a skewed
// (Zipf-like) popularity; a share of subjects also follows one of a few
// planted pathways, item after item, a few time units apart.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s ROWS [SUBJECTS] [ITEMS] [SEED]\n", argv[0]);
        return 1;
    }
    const long rows = std::atol(argv[1]);
    const long subjects = argc > 2 ? std::atol(argv[2]) : std::max(1L, rows / 10);
    const int items = argc > 3 ? std::atoi(argv[3]) : 1000;
    const unsigned seed = argc > 4 ? static_cast<unsigned>(std::atoi(argv[4])) : 42;
    std::mt19937_64 rng(seed);

    // Zipf-like weights: item k has weight 1 / (k + 1).
    std::vector<double> weights(static_cast<size_t>(items));
    for (int k = 0; k < items; ++k)
        weights[static_cast<size_t>(k)] = 1.0 / (k + 1);
    std::discrete_distribution<int> popular(weights.begin(), weights.end());

    std::vector<std::vector<int>> pathways;
    for (int p = 0; p < 8; ++p) {
        std::vector<int> steps;
        int len = 2 + p % 3;
        for (int s = 0; s < len; ++s)
            steps.push_back(static_cast<int>(rng() % static_cast<unsigned>(items)));
        pathways.push_back(steps);
    }

    std::string line;
    std::printf("subject\ttime\titem\n");
    long written = 0;
    for (long s = 0; s < subjects && written < rows; ++s) {
        long budget = rows / subjects + (s < rows % subjects ? 1 : 0);
        unsigned time = static_cast<unsigned>(rng() % 100);
        const std::vector<int>* path = nullptr;
        size_t step = 0;
        if (rng() % 100 < 30)
            path = &pathways[rng() % pathways.size()];
        for (long r = 0; r < budget; ++r) {
            time += 1 + static_cast<unsigned>(rng() % 7);
            line = "u" + std::to_string(s) + "\t" + std::to_string(time);
            if (path && step < path->size() && rng() % 2 == 0) {
                line += "\ti" + std::to_string((*path)[step++]);
            } else {
                int n = 1 + static_cast<int>(rng() % 3);
                for (int k = 0; k < n; ++k)
                    line += "\ti" + std::to_string(popular(rng));
            }
            std::puts(line.c_str());
            ++written;
        }
    }
    return 0;
}
