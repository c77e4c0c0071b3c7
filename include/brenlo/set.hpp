// Insertion-ordered hash containers behind the abstract Set and Map, and the
// iterator handle that walks them.
#pragma once

#include "brenlo/exception.hpp"
#include "brenlo/hash.hpp"
#include "brenlo/pointer.hpp"

#include <new>
#include <utility>

namespace brenlo::mem {

/// A shared handle to a traversal strategy. Protocol: while hasNext(), use
/// current(), then next().
template <class T> class Iterator {
public:
    class Strategy {
    public:
        virtual bool hasNext() = 0;
        virtual void next() = 0;
        virtual const T& current() const = 0;
        virtual T& current() {
            return const_cast<T&>(static_cast<const Strategy*>(this)->current());
        }
        virtual ~Strategy() {}
    };

    explicit Iterator(Strategy* s) : m_strat(s, nullptr) {}

    bool hasNext() { return m_strat->hasNext(); }
    void next() { m_strat->next(); }
    T& current() { return m_strat->current(); }
    const T& current() const { return static_cast<const Strategy&>(*m_strat).current(); }
    T* operator->() { return &current(); }
    T& operator*() { return current(); }

private:
    Pointer<Strategy> m_strat;
};

} // namespace brenlo::mem

namespace brenlo::util {

/// Hook called when a set creates a value from a key; nothing installs one yet.
template <class T, class K> class EntryActions {
public:
    virtual void created(const K& key, T& value) = 0;
    virtual ~EntryActions() {}
};

template <class T, class KeyOps = KeyOperations<T>> class Set {
public:
    typedef typename KeyOps::Key Key;
    typedef util::EntryActions<T, Key> EntryActions;

    virtual T createValueFromKey(const Key& key) {
        T value;
        KeyOps::createValue(key, value);
        if (m_actions)
            m_actions->created(key, value);
        return value;
    }
    virtual ~Set() {}
    virtual size_t size() const = 0;
    virtual bool containsKey(const Key& key) const = 0;
    virtual T& lookupByKey(const Key& key, bool create) = 0;
    virtual const T& lookupByKey(const Key& key) const = 0;
    virtual void eraseByKey(const Key& key) = 0;
    virtual void clear() = 0;
    virtual mem::Iterator<T> iterator() = 0;
    virtual mem::Iterator<const T> iterator() const = 0;

    T& operator[](const Key& key) { return lookupByKey(key, true); }
    const T& operator[](const Key& key) const { return lookupByKey(key); }

protected:
    mem::Pointer<EntryActions> m_actions;
};

/// A hash set that remembers insertion order. The bucket table is fixed at
/// construction; chains lengthen as elements are added.
template <class T, class KeyOps = KeyOperations<T>> class LinkedHashSet : public Set<T, KeyOps> {
public:
    typedef typename KeyOps::Key Key;
    static constexpr size_t DEFAULT_BUCKETS = 251;

    explicit LinkedHashSet(size_t capacity = 0)
        : m_buckets(capacity ? capacity : DEFAULT_BUCKETS, mem::MALLOC, nullptr), m_tail(nullptr),
          m_size(0) {
        for (size_t k = 0; k < m_buckets.size(); ++k)
            m_buckets[k] = nullptr;
    }
    LinkedHashSet(const LinkedHashSet&) = delete;
    LinkedHashSet& operator=(const LinkedHashSet&) = delete;
    ~LinkedHashSet() override { clear(); }

    size_t size() const override { return m_size; }
    bool containsKey(const Key& key) const override { return m_find(key, nullptr) != nullptr; }

    T& lookupByKey(const Key& key, bool create) override {
        Node* last = nullptr;
        Node* node = m_find(key, &last);
        if (node)
            return node->data;
        if (!create)
            throw NotFoundException("Key not found\n");
        return m_create(key, last)->data;
    }
    const T& lookupByKey(const Key& key) const override {
        Node* node = m_find(key, nullptr);
        if (!node)
            throw NotFoundException("Key not found\n");
        return node->data;
    }

    void eraseByKey(const Key& key) override {
        size_t index = m_index(key);
        Node* prevInChain = nullptr;
        Node* node = m_buckets[index];
        while (node && !KeyOps::equals(KeyOps::extract(node->data), key)) {
            prevInChain = node;
            node = node->nextInChain;
        }
        if (!node)
            return;
        if (prevInChain)
            prevInChain->nextInChain = node->nextInChain;
        else
            m_buckets[index] = node->nextInChain;
        if (node->prev == node) {
            m_tail = nullptr;
        } else {
            node->prev->next = node->next;
            node->next->prev = node->prev;
            if (m_tail == node)
                m_tail = node->prev;
        }
        --m_size;
        delete node;
    }

    void clear() override {
        for (size_t k = 0; k < m_buckets.size(); ++k) {
            Node* node = m_buckets[k];
            while (node) {
                Node* next = node->nextInChain;
                delete node;
                node = next;
            }
            m_buckets[k] = nullptr;
        }
        m_tail = nullptr;
        m_size = 0;
    }

    mem::Iterator<T> iterator() override {
        return mem::Iterator<T>(new IteratorStrategy<T>(m_tail ? m_tail->next : nullptr));
    }
    mem::Iterator<const T> iterator() const override {
        return mem::Iterator<const T>(
            new IteratorStrategy<const T>(m_tail ? m_tail->next : nullptr));
    }

private:
    struct Node {
        T data;
        Node* prev;
        Node* next;
        Node* nextInChain;
        explicit Node(const T& d) : data(d), prev(this), next(this), nextInChain(nullptr) {}
    };

    template <class U> class IteratorStrategy : public mem::Iterator<U>::Strategy {
    public:
        explicit IteratorStrategy(Node* head) : m_cur(head), m_head(head) {}
        bool hasNext() override { return m_cur != nullptr; }
        void next() override { m_cur = m_cur->next == m_head ? nullptr : m_cur->next; }
        const U& current() const override { return m_cur->data; }

    private:
        Node* m_cur;
        Node* m_head;
    };

    size_t m_index(const Key& key) const {
        return static_cast<size_t>(DefaultHash<Key, 32>::hash(key).value) % m_buckets.size();
    }

    Node* m_find(const Key& key, Node** last) const {
        Node* node = m_buckets[m_index(key)];
        while (node) {
            if (KeyOps::equals(KeyOps::extract(node->data), key))
                return node;
            if (last)
                *last = node;
            node = node->nextInChain;
        }
        return nullptr;
    }

    Node* m_create(const Key& key, Node* lastInChain) {
        Node* node = new Node(this->createValueFromKey(key));
        if (m_tail) {
            node->prev = m_tail;
            node->next = m_tail->next;
            m_tail->next->prev = node;
            m_tail->next = node;
        }
        ++m_size;
        m_tail = node;
        if (lastInChain)
            lastInChain->nextInChain = node;
        else
            m_buckets[m_index(key)] = node;
        return node;
    }

    mem::Array<Node*> m_buckets;
    Node* m_tail;
    size_t m_size;
};

template <class K, class V> class Map {
public:
    typedef std::pair<const K, V> Pair;

    virtual size_t size() const = 0;
    virtual bool containsKey(const K& key) const = 0;
    virtual Pair& pairFor(const K& key, bool create) = 0;
    virtual const Pair& pairFor(const K& key) const = 0;
    virtual void erase(const K& key) = 0;
    virtual void clear() = 0;
    virtual mem::Iterator<Pair> iterator() = 0;
    virtual mem::Iterator<const Pair> iterator() const = 0;
    virtual mem::Iterator<const K> keys() const {
        return mem::Iterator<const K>(new KeyIteratorStrategy(iterator()));
    }
    virtual mem::Iterator<V> values() {
        return mem::Iterator<V>(new ValueIteratorStrategy<V, Pair>(iterator()));
    }
    virtual mem::Iterator<const V> values() const {
        return mem::Iterator<const V>(new ValueIteratorStrategy<const V, const Pair>(iterator()));
    }

    V& lookup(const K& key, bool create) { return pairFor(key, create).second; }
    const V& lookup(const K& key) const { return pairFor(key).second; }
    V& operator[](const K& key) { return lookup(key, true); }
    const V& operator[](const K& key) const { return lookup(key); }

protected:
    ~Map() {}

    class KeyIteratorStrategy : public mem::Iterator<const K>::Strategy {
    public:
        explicit KeyIteratorStrategy(mem::Iterator<const Pair> cur) : m_cur(cur) {}
        bool hasNext() override { return m_cur.hasNext(); }
        void next() override { m_cur.next(); }
        const K& current() const override { return m_cur.current().first; }

    private:
        mem::Iterator<const Pair> m_cur;
    };

    template <class U, class P> class ValueIteratorStrategy : public mem::Iterator<U>::Strategy {
    public:
        explicit ValueIteratorStrategy(mem::Iterator<P> cur) : m_cur(cur) {}
        bool hasNext() override { return m_cur.hasNext(); }
        void next() override { m_cur.next(); }
        const U& current() const override { return m_cur.current().second; }

    private:
        mem::Iterator<P> m_cur;
    };
};

template <class K, class V> class LinkedHashMap : public Map<K, V> {
public:
    typedef std::pair<const K, V> Pair;
    typedef LinkedHashSet<Pair, KeyOperations<Pair>> Backing;

    LinkedHashMap() : m_backing(0) {}
    virtual ~LinkedHashMap() {}

    size_t size() const override { return m_backing.size(); }
    bool containsKey(const K& key) const override { return m_backing.containsKey(key); }
    Pair& pairFor(const K& key, bool create) override { return m_backing.lookupByKey(key, create); }
    const Pair& pairFor(const K& key) const override { return m_backing.lookupByKey(key); }
    void erase(const K& key) override { m_backing.eraseByKey(key); }
    void clear() override { m_backing.clear(); }
    mem::Iterator<Pair> iterator() override { return m_backing.iterator(); }
    mem::Iterator<const Pair> iterator() const override { return m_backing.iterator(); }

private:
    Backing m_backing;
};

} // namespace brenlo::util
