#include "significance.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace quorvel::rule::mining {

namespace {

const double LOG_2PI = 1.837877066409345483560659472811;

// log(n!) - log(sqrt(2 pi n) (n/e)^n): Stirling's error, from the series
// past 15 and exactly (in long double) below.
double stirlerr(double n) {
    if (n <= 15) {
        static const auto table = [] {
            std::vector<double> t(16);
            for (int k = 1; k <= 15; ++k) {
                const long double x = k;
                t[k] = static_cast<double>(std::lgamma(x + 1) - (x + 0.5L) * std::log(x) + x -
                                           0.5L * std::log(2 * 3.14159265358979323846264338L));
            }
            return t;
        }();
        return table[static_cast<size_t>(n)];
    }
    const double s0 = 1.0 / 12, s1 = 1.0 / 360, s2 = 1.0 / 1260, s3 = 1.0 / 1680,
                 s4 = 1.0 / 1188;
    const double nn = n * n;
    if (n > 500)
        return (s0 - s1 / nn) / n;
    if (n > 80)
        return (s0 - (s1 - s2 / nn) / nn) / n;
    if (n > 35)
        return (s0 - (s1 - (s2 - s3 / nn) / nn) / nn) / n;
    return (s0 - (s1 - (s2 - (s3 - s4 / nn) / nn) / nn) / nn) / n;
}

// x log(x / np) + np - x, without the cancellation near x = np.
double bd0(double x, double np) {
    if (std::fabs(x - np) < 0.1 * (x + np)) {
        double v = (x - np) / (x + np);
        double s = (x - np) * v;
        double ej = 2 * x * v;
        v *= v;
        for (int j = 1; j < 1000; ++j) {
            ej *= v;
            const double next = s + ej / (2 * j + 1);
            if (next == s)
                return next;
            s = next;
        }
        return s;
    }
    return x * std::log(x / np) + np - x;
}

// The log of the chance of x successes in n trials of chance p (q = 1 - p).
double logBinomial(double x, double n, double p, double q) {
    if (x == 0)
        return n == 0 ? 0 : p < 0.1 ? -bd0(n, n * q) - n * p : n * std::log(q);
    if (x == n)
        return q < 0.1 ? -bd0(n, n * p) - n * q : n * std::log(p);
    const double lc = stirlerr(n) - stirlerr(x) - stirlerr(n - x) - bd0(x, n * p) -
                      bd0(n - x, n * q);
    return lc - 0.5 * (LOG_2PI + std::log(x) + std::log1p(-x / n));
}

// A tail's sum from its first term, whose log is `logFirst`, each next
// term the last times ratio(i) for i = from, from + step, ... until `to`.
template <class Ratio>
double tailSum(double logFirst, int64_t from, int64_t to, int step, Ratio ratio) {
    double term = 1, sum = 1;
    for (int64_t i = from; i != to; i += step) {
        term *= ratio(i);
        sum += term;
        if (term < sum * 1e-17)
            break;
    }
    return std::exp(logFirst + std::log(sum));
}

double floorAtLeast(double p) {
    return p < LEAST_P ? 0 : std::min(1.0, p);
}

} // namespace

double hypergeometricUpper(uint64_t population, uint64_t marked, uint64_t draws,
                           uint64_t observed) {
    const int64_t N = static_cast<int64_t>(population), K = static_cast<int64_t>(marked),
                  n = static_cast<int64_t>(draws), k = static_cast<int64_t>(observed);
    const int64_t lo = std::max<int64_t>(0, K + n - N), hi = std::min(K, n);
    if (k <= lo)
        return 1;
    if (k > hi)
        return 0;
    const double p = double(n) / double(N), q = double(N - n) / double(N);
    auto logAt = [&](int64_t x) {
        return logBinomial(double(x), double(K), p, q) +
               logBinomial(double(n - x), double(N - K), p, q) -
               logBinomial(double(n), double(N), p, q);
    };
    const int64_t mode = static_cast<int64_t>((double(n + 1) * double(K + 1)) / double(N + 2));
    if (k > mode) {
        // P(X = i + 1) / P(X = i).
        return floorAtLeast(tailSum(logAt(k), k, hi, 1, [&](int64_t i) {
            return (double(K - i) * double(n - i)) / (double(i + 1) * double(N - K - n + i + 1));
        }));
    }
    // P(X = i - 1) / P(X = i), summing P(X < k) downward.
    return floorAtLeast(1 - tailSum(logAt(k - 1), k - 1, lo, -1, [&](int64_t i) {
                            return (double(i) * double(N - K - n + i)) /
                                   (double(K - i + 1) * double(n - i + 1));
                        }));
}

double binomialHalfUpper(uint64_t successes, uint64_t trials) {
    const int64_t x = static_cast<int64_t>(successes), n = static_cast<int64_t>(trials);
    if (x <= 0)
        return 1;
    if (x > n)
        return 0;
    auto logAt = [&](int64_t i) { return logBinomial(double(i), double(n), 0.5, 0.5); };
    if (2 * x > n) {
        return floorAtLeast(tailSum(logAt(x), x, n, 1, [&](int64_t i) {
            return double(n - i) / double(i + 1);
        }));
    }
    return floorAtLeast(1 - tailSum(logAt(x - 1), x - 1, 0, -1, [&](int64_t i) {
                            return double(i) / double(n - i + 1);
                        }));
}

std::vector<double> adjusted(const std::vector<double>& p, Adjustment how) {
    const size_t m = p.size();
    std::vector<size_t> order(m);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return p[a] < p[b]; });
    std::vector<double> out(m);
    if (how == Adjustment::HOLM) {
        double running = 0;
        for (size_t i = 0; i < m; ++i) {
            running = std::max(running, std::min(1.0, double(m - i) * p[order[i]]));
            out[order[i]] = running;
        }
    } else {
        double running = 1;
        for (size_t i = m; i-- > 0;) {
            running = std::min(running, double(m) / double(i + 1) * p[order[i]]);
            out[order[i]] = running;
        }
    }
    return out;
}

} // namespace quorvel::rule::mining
