// The subjects holding an item set. An ascending list is smaller while few
// subjects hold the set; once more than one in 32 do, a bitset over all of
// them is, and a join ANDs it with an item's bitset a word at a time
// instead of testing each listed subject.
#pragma once

#include "index.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace quorvel::rule::mining {

class Holders {
public:
    Holders() = default;

    /// The subjects of `list`, ascending, of an index of `subjects`.
    static Holders of(std::vector<uint32_t> list, size_t subjects) {
        Holders h;
        h.m_count = list.size();
        if (denser(list.size(), subjects)) {
            h.m_bits = SubjectBits(subjects);
            for (uint32_t s : list)
                h.m_bits.set(s);
        } else {
            h.m_list = std::move(list);
        }
        return h;
    }
    /// The subjects of `bits`, `count` of them.
    static Holders of(SubjectBits bits, size_t count) {
        Holders h;
        h.m_count = count;
        if (denser(count, bits.words() * 64)) {
            h.m_bits = std::move(bits);
        } else {
            h.m_list.reserve(count);
            bits.forEach([&](size_t s) { h.m_list.push_back(static_cast<uint32_t>(s)); });
        }
        return h;
    }

    /// How many subjects, weights aside.
    size_t size() const { return m_count; }
    bool dense() const { return m_bits.words() != 0; }
    /// As a list (not dense) or a bitset (dense).
    const std::vector<uint32_t>& list() const { return m_list; }
    const SubjectBits& bits() const { return m_bits; }
    size_t bytes() const { return m_list.size() * 4 + m_bits.words() * 8; }

    /// Calls f(subject) for each subject from `from` up to `to`, ascending;
    /// `at` is where a list was left by the call before (from 0), so that
    /// consecutive ranges walk the list once.
    template <class F> void forEachIn(size_t from, size_t to, size_t& at, F f) const {
        if (!dense()) {
            for (; at < m_list.size() && m_list[at] < to; ++at)
                if (m_list[at] >= from)
                    f(m_list[at]);
            return;
        }
        const uint64_t* words = m_bits.data();
        for (size_t w = from / 64; w * 64 < to && w < m_bits.words(); ++w) {
            uint64_t bits = words[w];
            if (w * 64 < from)
                bits &= ~uint64_t(0) << (from % 64);
            if ((w + 1) * 64 > to)
                bits &= ~(~uint64_t(0) << (to % 64));
            for (; bits; bits &= bits - 1)
                f(w * 64 + static_cast<size_t>(__builtin_ctzll(bits)));
        }
    }

    /// A bitset's words, for another set to reuse; the holders are gone.
    std::vector<uint64_t> releaseBits() {
        m_count = 0;
        m_list = std::vector<uint32_t>();
        return m_bits.release();
    }

    /// Whether `count` of `subjects` take less room as a bitset.
    static bool denser(size_t count, size_t subjects) { return count * 32 > subjects; }

private:
    std::vector<uint32_t> m_list;
    SubjectBits m_bits;
    size_t m_count = 0;
};

/// Bitsets given up by the sets already joined, kept per thread for the
/// next sets that thread makes: one taken back is in memory already, and
/// is never freed into another thread's heap on the way.
class BitsPool {
public:
    explicit BitsPool(unsigned workers) : m_free(std::max(1u, workers)) {}
    /// A bitset of `words` words, its contents unset.
    std::vector<uint64_t> take(unsigned worker, size_t words) {
        std::vector<std::vector<uint64_t>>& free = m_free[worker];
        if (free.empty())
            return std::vector<uint64_t>(words);
        std::vector<uint64_t> bits = std::move(free.back());
        free.pop_back();
        bits.resize(words);
        return bits;
    }
    void give(unsigned worker, std::vector<uint64_t> bits) {
        m_free[worker].push_back(std::move(bits));
    }

private:
    std::vector<std::vector<std::vector<uint64_t>>> m_free;
};

} // namespace quorvel::rule::mining
