#!/usr/bin/env python3
"""Tail probabilities in exact integer arithmetic, one per input line.

    h N K n k   P(X >= k) for X hypergeometric: n drawn from N of which K marked
    b x n       P(X >= x) for X binomial with n trials of chance 1/2

Each answer is printed as the double nearest the exact fraction: the sum
of the definition's terms where there are at most PLAIN of them; past
that, terms are summed outward from k and the sum stops once a term is
below 1e-40 of it, far under the 1e-12 the miner is held to.
"""
import sys
from fractions import Fraction
from math import comb

STOP = 10**40
PLAIN = 300


def tail(first, ratio, steps):
    # Integer terms: first, then each the last times ratio(i) = (up, down),
    # which divides exactly (every term is a product of binomials).
    total = term = first
    for i in steps:
        up, down = ratio(i)
        term = term * up // down
        if term == 0:
            break
        total += term
        if term * STOP < total:
            break
    return total


def hypergeometric(N, K, n, k):
    lo, hi = max(0, K + n - N), min(K, n)
    if k <= lo:
        return Fraction(1)
    if k > hi:
        return Fraction(0)
    whole = comb(N, n)
    if hi - k < PLAIN:
        return Fraction(sum(comb(K, i) * comb(N - K, n - i) for i in range(k, hi + 1)), whole)
    mode = (n + 1) * (K + 1) // (N + 2)
    if k > mode:
        first = comb(K, k) * comb(N - K, n - k)
        return Fraction(tail(first, lambda i: ((K - i) * (n - i), (i + 1) * (N - K - n + i + 1)),
                             range(k, hi)), whole)
    first = comb(K, k - 1) * comb(N - K, n - k + 1)
    below = tail(first, lambda i: (i * (N - K - n + i), (K - i + 1) * (n - i + 1)),
                 range(k - 1, lo, -1))
    return 1 - Fraction(below, whole)


def binomial(x, n):
    if x <= 0:
        return Fraction(1)
    if x > n:
        return Fraction(0)
    whole = 2**n
    if n - x < PLAIN:
        return Fraction(sum(comb(n, i) for i in range(x, n + 1)), whole)
    if 2 * x > n:
        return Fraction(tail(comb(n, x), lambda i: (n - i, i + 1), range(x, n)), whole)
    below = tail(comb(n, x - 1), lambda i: (i, n - i + 1), range(x - 1, 0, -1))
    return 1 - Fraction(below, whole)


for line in sys.stdin:
    words = line.split()
    if not words:
        continue
    args = [int(w) for w in words[1:]]
    p = hypergeometric(*args) if words[0] == "h" else binomial(*args)
    print(repr(float(p)))
