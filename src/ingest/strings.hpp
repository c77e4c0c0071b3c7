// Interning: each distinct string stored once, in an arena, found through an
// open-addressing hash table keyed by its bytes.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::rule::mining {

inline uint64_t hashBytes(std::string_view s) {
    // Eight bytes at a time, mixed by multiplication; strong enough for
    // names, and far cheaper than std::hash's per-byte loop.
    const uint64_t K = 0x9E3779B97F4A7C15ull;
    uint64_t h = s.size() * K;
    const char* p = s.data();
    size_t n = s.size();
    while (n >= 8) {
        uint64_t w;
        std::memcpy(&w, p, 8);
        h = (h ^ w) * K;
        h ^= h >> 29;
        p += 8;
        n -= 8;
    }
    // The last bytes without a call to memcpy: two loads that may overlap.
    uint64_t w = 0;
    if (n >= 4) {
        uint32_t a, b;
        std::memcpy(&a, p, 4);
        std::memcpy(&b, p + n - 4, 4);
        w = uint64_t(a) << 32 | b;
    } else if (n > 0) {
        w = uint64_t(uint8_t(p[0])) << 16 | uint64_t(uint8_t(p[n / 2])) << 8 | uint8_t(p[n - 1]);
    }
    h = (h ^ w) * K;
    return h ^ (h >> 32);
}

// Whether `n` bytes at `a` and `b` are the same; short names without a call.
inline bool sameBytes(const char* a, const char* b, size_t n) {
    if (n > 16)
        return std::memcmp(a, b, n) == 0;
    for (size_t k = 0; k < n; ++k)
        if (a[k] != b[k])
            return false;
    return true;
}

class StringTable {
public:
    StringTable() : m_slots(64, 0) {}

    /// The id of `s`, numbered from 0 in the order first met.
    uint32_t intern(std::string_view s) { return intern(s, hashBytes(s)); }

    /// The same, for a string whose hashBytes() is `h`.
    uint32_t intern(std::string_view s, uint64_t h) {
        size_t mask = m_slots.size() - 1;
        for (size_t i = h & mask;; i = (i + 1) & mask) {
            const uint32_t slot = m_slots[i];
            if (slot == 0)
                return insert(s, h, i);
            const uint32_t id = slot - 1;
            if (m_hashes[id] == h && m_begin[id + 1] - m_begin[id] == s.size() &&
                sameBytes(m_arena.data() + m_begin[id], s.data(), s.size()))
                return id;
        }
    }

    size_t size() const { return m_hashes.size(); }
    uint64_t hash(uint32_t id) const { return m_hashes[id]; }
    std::string_view view(uint32_t id) const {
        return std::string_view(m_arena.data() + m_begin[id], m_begin[id + 1] - m_begin[id]);
    }
    /// Frees everything.
    void clear() { *this = StringTable(); }

private:
    uint32_t insert(std::string_view s, uint64_t h, size_t slot) {
        const uint32_t id = static_cast<uint32_t>(m_hashes.size());
        m_arena.insert(m_arena.end(), s.begin(), s.end());
        m_begin.push_back(m_arena.size());
        m_hashes.push_back(h);
        m_slots[slot] = id + 1;
        if (m_hashes.size() * 2 > m_slots.size())
            grow();
        return id;
    }

    void grow() {
        std::vector<uint32_t> slots(m_slots.size() * 2, 0);
        const size_t mask = slots.size() - 1;
        for (uint32_t id = 0; id < m_hashes.size(); ++id) {
            size_t i = m_hashes[id] & mask;
            while (slots[i] != 0)
                i = (i + 1) & mask;
            slots[i] = id + 1;
        }
        m_slots.swap(slots);
    }

    std::vector<char> m_arena;
    std::vector<uint64_t> m_begin{0}; // id -> start in the arena; one past the last
    std::vector<uint64_t> m_hashes;
    std::vector<uint32_t> m_slots; // id + 1, or 0 for empty
};

} // namespace quorvel::rule::mining
