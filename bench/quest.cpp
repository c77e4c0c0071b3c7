// Writes market baskets in the manner of the IBM Quest generator (Agrawal
// and Srikant, 1994): transactions of Poisson size T built from L
// potentially frequent item sets of Poisson size I over N items, each set
// sharing part of its items with the one before, drawn by exponential
// weights and corrupted by a per-set level. T10 I4 D100K is the classic
// t10i4d100k. One basket a subject, at time 1.
//
//   quorvel-quest D [T] [I] [N] [L] [SEED] > baskets.tsv
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s D [T] [I] [N] [L] [SEED]\n", argv[0]);
        return 1;
    }
    const long baskets = std::atol(argv[1]);
    const double T = argc > 2 ? std::atof(argv[2]) : 10, I = argc > 3 ? std::atof(argv[3]) : 4;
    const int N = argc > 4 ? std::atoi(argv[4]) : 1000, L = argc > 5 ? std::atoi(argv[5]) : 2000;
    std::mt19937_64 rng(argc > 6 ? std::strtoull(argv[6], nullptr, 10) : 1);
    std::uniform_real_distribution<double> unit(0, 1);
    std::exponential_distribution<double> weight(1.0), share(2.0); // share of mean 0.5
    std::normal_distribution<double> corruption(0.5, std::sqrt(0.1));
    std::poisson_distribution<int> setSize(I - 1), basketSize(T - 1);

    std::vector<std::vector<int>> sets(L);
    std::vector<double> weights(L), corrupt(L);
    for (int k = 0; k < L; ++k) {
        const size_t size = 1 + static_cast<size_t>(setSize(rng));
        std::set<int> items;
        if (k > 0) {
            const std::vector<int>& prev = sets[k - 1];
            const size_t take = std::min(prev.size(), static_cast<size_t>(share(rng) * size));
            for (size_t j = 0; j < take; ++j)
                items.insert(prev[rng() % prev.size()]);
        }
        while (items.size() < size)
            items.insert(static_cast<int>(rng() % static_cast<unsigned>(N)));
        sets[k].assign(items.begin(), items.end());
        weights[k] = weight(rng);
        corrupt[k] = std::min(1.0, std::max(0.0, corruption(rng)));
    }
    std::discrete_distribution<int> pick(weights.begin(), weights.end());

    std::printf("subject\ttime\titem\n");
    std::vector<int> carried;
    std::string line;
    for (long b = 0; b < baskets; ++b) {
        const size_t size = 1 + static_cast<size_t>(basketSize(rng));
        std::set<int> basket(carried.begin(), carried.end());
        carried.clear();
        while (basket.size() < size) {
            const int k = pick(rng);
            std::vector<int> items = sets[k];
            std::shuffle(items.begin(), items.end(), rng);
            while (!items.empty() && unit(rng) < corrupt[k])
                items.pop_back();
            if (basket.size() + items.size() > size && !basket.empty() && unit(rng) < 0.5) {
                carried = items; // to the next basket
                break;
            }
            basket.insert(items.begin(), items.end());
        }
        line = "b" + std::to_string(b) + "\t1";
        for (int item : basket)
            line += "\t" + std::to_string(item);
        std::puts(line.c_str());
    }
    return 0;
}
