#include "brenlo/hash.hpp"
#include "brenlo/set.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace brenlo;
using namespace brenlo::util;

namespace {

template <class K, class V> std::vector<K> keysOf(const LinkedHashMap<K, V>& m) {
    std::vector<K> out;
    for (mem::Iterator<const K> it = m.keys(); it.hasNext(); it.next())
        out.push_back(it.current());
    return out;
}

// A key type that brings its own (deliberately bad) hash: every key collides.
struct Colliding {
    int v;
    HashCode<32> hashCode() const { return HashCode<32>(1u); }
    bool operator==(const Colliding& o) const { return v == o.v; }
};

} // namespace

TEST(Hashing, Fnv1AndIntegers) {
    EXPECT_EQ(fnv1<32>("", 0).value, 0x811C9DC5u);
    EXPECT_EQ(fnv1<32>("a", 1).value, 0x050C5D7Eu);
    EXPECT_EQ(DefaultHash<std::string>::hash("a").value, 0x050C5D7Eu);
    EXPECT_EQ(DefaultHash<char>::hash('a').value, 0x050C5D7Eu);
    unsigned int one = 1;
    EXPECT_EQ(DefaultHash<unsigned int>::hash(1u).value, fnv1<32>(&one, 4).value);
    EXPECT_EQ(DefaultHash<Colliding>::hash(Colliding{5}).value, 1u);
    Integer<unsigned int> a(6), b(4);
    EXPECT_EQ((a + b).value, 10u);
    EXPECT_EQ((a ^ b).value, 2u);
    a <<= Integer<unsigned int>(1);
    EXPECT_EQ(a.value, 12u);
    EXPECT_TRUE(b < a);
}

TEST(LinkedHashMap, KeepsInsertionOrder) {
    LinkedHashMap<std::string, unsigned int> m;
    m["b"] = 1;
    m["a"] = 2;
    m["c"] = 3;
    EXPECT_EQ(keysOf(m), (std::vector<std::string>{"b", "a", "c"}));
    m.lookup("a", true) = 9;
    EXPECT_EQ(keysOf(m), (std::vector<std::string>{"b", "a", "c"}));
    m.erase("a");
    m["a"] = 4;
    EXPECT_EQ(keysOf(m), (std::vector<std::string>{"b", "c", "a"}));
    m.erase("a");
    m["d"];
    EXPECT_EQ(m.lookup("d"), 0u);
    EXPECT_EQ(keysOf(m), (std::vector<std::string>{"b", "c", "d"}));
    m.erase("absent");
    EXPECT_EQ(m.size(), 3u);
    std::vector<unsigned int> values;
    for (mem::Iterator<unsigned int> it = m.values(); it.hasNext(); it.next())
        values.push_back(*it);
    EXPECT_EQ(values, (std::vector<unsigned int>{1, 3, 0}));
}

TEST(LinkedHashMap, MissingKeysAndClear) {
    LinkedHashMap<char, unsigned int> m;
    const auto& cm = m;
    try {
        cm['x'];
        FAIL() << "no exception";
    } catch (const NotFoundException& e) {
        EXPECT_STREQ(e.what(), "Key not found\n");
    }
    EXPECT_THROW(m.pairFor('x', false), NotFoundException);
    EXPECT_EQ(m.size(), 0u);
    m['x'] = 1;
    m['y'] = 2;
    m.clear();
    EXPECT_EQ(m.size(), 0u);
    EXPECT_FALSE(m.iterator().hasNext());
    m['z'] = 3;
    EXPECT_EQ(keysOf(m), std::vector<char>{'z'});
}

TEST(LinkedHashSet, SharedBucketsAndErasure) {
    // One bucket: every key lands in the same chain.
    LinkedHashSet<std::pair<const unsigned int, int>> one(1);
    for (unsigned int k = 0; k < 5; ++k)
        one.lookupByKey(k, true).second = static_cast<int>(k) * 10;
    EXPECT_EQ(one.lookupByKey(3).second, 30);
    one.eraseByKey(0);
    EXPECT_EQ(one.lookupByKey(4).second, 40);
    EXPECT_FALSE(one.containsKey(0));
    one.eraseByKey(4); // the newest: the previous one becomes the tail
    one.lookupByKey(9, true);
    std::vector<unsigned int> order;
    for (auto it = one.iterator(); it.hasNext(); it.next())
        order.push_back(it->first);
    EXPECT_EQ(order, (std::vector<unsigned int>{1, 2, 3, 9}));

    LinkedHashSet<std::pair<const Colliding, int>> colliding;
    colliding.lookupByKey(Colliding{1}, true).second = 1;
    colliding.lookupByKey(Colliding{2}, true).second = 2;
    colliding.eraseByKey(Colliding{1});
    EXPECT_EQ(colliding.lookupByKey(Colliding{2}).second, 2);

    LinkedHashSet<std::pair<const unsigned int, int>> single;
    single.lookupByKey(1, true);
    single.eraseByKey(1);
    EXPECT_EQ(single.size(), 0u);
    EXPECT_FALSE(single.iterator().hasNext());
}
