// Writes an event log shaped like a real business-process log: cases walk a
// main path of activities (skipping some, redoing others), with loops of
// work items, noise, several events at one time stamp, and times in seconds.
// Few cases share a history, unlike copies of one log.
//
//   quorvel-procgen CASES [ACTIVITIES] [SEED] > log.tsv
//
// Case lengths (in time stamps) follow a log-normal law of median 10 and
// 99th percentile near 74, cut at 161, as in a loan-application log.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CASES [ACTIVITIES] [SEED]\n", argv[0]);
        return 1;
    }
    const long cases = std::atol(argv[1]);
    const int activities = std::max(8, argc > 2 ? std::atoi(argv[2]) : 24);
    const unsigned seed = argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : 7;
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> unit(0, 1);
    std::lognormal_distribution<double> length(std::log(10.0), 0.86);
    std::exponential_distribution<double> gap(1.0);

    // The main path takes half the activities; a quarter are work-item
    // loops; the rest come as noise.
    const int path = activities / 2, loops = activities / 4;
    std::vector<double> skip(path);
    for (int k = 0; k < path; ++k)
        skip[k] = 0.02 + 0.12 * unit(rng);

    std::printf("case\ttime\tactivity\n");
    std::string line;
    for (long c = 0; c < cases; ++c) {
        const int stamps = std::min(161, std::max(2, static_cast<int>(length(rng))));
        // Times in seconds within some three years; gaps from minutes to days.
        double t = 1.3e9 + unit(rng) * 9.0e7;
        int step = 0;
        const std::string id = "case" + std::to_string(100000 + c);
        for (int s = 0; s < stamps; ++s) {
            std::vector<int> events;
            const double u = unit(rng);
            if (step < path && u < 0.6) {
                while (step < path - 1 && unit(rng) < skip[step])
                    ++step;
                events.push_back(step++);
                // A main step often opens a work item at the same moment.
                if (unit(rng) < 0.7)
                    events.push_back(path + static_cast<int>(rng() % loops));
            } else if (u < 0.9) {
                events.push_back(path + static_cast<int>(rng() % loops));
            } else {
                events.push_back(static_cast<int>(rng() % activities));
            }
            for (int a : events) {
                line = id + "\t" + std::to_string(static_cast<unsigned long>(t)) + "\tA" +
                       std::to_string(a);
                std::puts(line.c_str());
            }
            // Most gaps are hours; one in five is days.
            t += (unit(rng) < 0.2 ? 259200 : 7200) * gap(rng) + 1;
        }
    }
    return 0;
}
