// The p-values of the rules and their adjustment for the number of rules
// tested. Probabilities of single outcomes are computed by Loader's
// saddle-point method (stirlerr and bd0), which keeps their relative error
// near the rounding of a double where the plain sums of logarithms of
// factorials lose digits; tails are summed outward from the observed value.
#pragma once

#include "quorvel/mine.hpp"

#include <cstdint>
#include <vector>

namespace quorvel::rule::mining {

/// The least p-value reported; below it a p-value is 0.
constexpr double LEAST_P = 1e-300;

/// Fisher's exact test, one-sided: the chance that `draws` subjects taken
/// at random from `population` of which `marked` are marked hold at least
/// `observed` marked ones (the upper tail of the hypergeometric law).
double hypergeometricUpper(uint64_t population, uint64_t marked, uint64_t draws,
                           uint64_t observed);

/// The sign test, one-sided: the chance of at least `successes` heads in
/// `trials` fair coin tosses (1 when there are none).
double binomialHalfUpper(uint64_t successes, uint64_t trials);

/// The adjusted p-values of `p`, in its order, each the least level at
/// which its hypothesis is rejected within the family of all of them; as
/// R's p.adjust gives them, ties adjusted alike.
std::vector<double> adjusted(const std::vector<double>& p, Adjustment how);

} // namespace quorvel::rule::mining
