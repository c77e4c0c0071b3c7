// Hash codes and the default hash of a key type: FNV-1 over its bytes.
#pragma once

#include "brenlo/integer.hpp"
#include "brenlo/metaprogramming.hpp"

#include <cstddef>
#include <string>
#include <utility>

namespace brenlo::util {

template <int BITS> struct HashCode;

template <> struct HashCode<32> : Integer<unsigned int> {
    HashCode() {}
    HashCode(const Integer<unsigned int>& v) : Integer<unsigned int>(v) {}
    HashCode(unsigned int v) : Integer<unsigned int>(v) {}
};

template <int BITS> HashCode<BITS> fnv1(const void* src, size_t len);

/// FNV-1, 32 bits: multiply by the prime, then XOR the byte.
template <> inline HashCode<32> fnv1<32>(const void* src, size_t len) {
    const unsigned char* p = static_cast<const unsigned char*>(src);
    unsigned int h = 2166136261u;
    for (size_t k = 0; k < len; ++k) {
        h *= 16777619u;
        h ^= p[k];
    }
    return HashCode<32>(h);
}

namespace detail {

template <class T, int BITS> struct HasHashFunction : meta::HasHashCode<T> {};

template <bool HAS, class T, int BITS> struct DefaultHashImpl;

template <class T, int BITS> struct DefaultHashImpl<true, T, BITS> {
    static HashCode<BITS> hash(const T& key) { return key.hashCode(); }
};

template <class T, int BITS> struct DefaultHashImpl<false, T, BITS> {
    static HashCode<BITS> hash(const T& key) { return fnv1<BITS>(&key, sizeof(T)); }
};

} // namespace detail

template <class T, int BITS = 32>
struct DefaultHash : detail::DefaultHashImpl<detail::HasHashFunction<T, BITS>::value, T, BITS> {};

template <> struct DefaultHash<std::string, 32> {
    static HashCode<32> hash(const std::string& key) { return fnv1<32>(key.data(), key.size()); }
};

/// How a stored value relates to its key. The generic case is a map entry.
template <class T> struct KeyOperations;

template <class K, class V> struct KeyOperations<std::pair<const K, V>> {
    typedef K Key;
    typedef std::pair<const K, V> Value;
    static void createValue(const K& key, Value& out) {
        out.~Value();
        new (&out) Value(key, V());
    }
    static const K& extract(const Value& v) { return v.first; }
    static bool equals(const K& a, const K& b) { return a == b; }
};

} // namespace brenlo::util
