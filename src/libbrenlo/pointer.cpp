#include "brenlo/pointer.hpp"

#include <cstdint>
#include <cstdlib>
#include <map>
#include <new>

namespace brenlo::mem {

namespace {

void* newAllocate(size_t n) {
    return ::operator new(n);
}
void newFree(void* p) {
    ::operator delete(p);
}
void* newArrayAllocate(size_t n) {
    return ::operator new[](n);
}
void newArrayFree(void* p) {
    if (p)
        ::operator delete[](p);
}
void* mallocAllocate(size_t n) {
    return std::malloc(n);
}
void mallocFree(void* p) {
    std::free(p);
}
void* stackAllocate(size_t) {
    throw std::bad_alloc();
}
void stackFree(void*) {}

const Allocator s_new = {newAllocate, newFree};
const Allocator s_newArray = {newArrayAllocate, newArrayFree};
const Allocator s_malloc = {mallocAllocate, mallocFree};
const Allocator s_stack = {stackAllocate, stackFree};

size_t refcountSize() {
    return sizeof(uint32_t);
}
void refcountInit(void* r) {
    *static_cast<uint32_t*>(r) = 1;
}
void refcountAcquire(void* r) {
    ++*static_cast<uint32_t*>(r);
}
bool refcountRelease(void* r) {
    return --*static_cast<uint32_t*>(r) == 0;
}

const Policy s_refcount = {refcountSize, refcountInit, nop, refcountAcquire, refcountRelease};
const Policy s_noPolicy = {rsize0, nop, nop, nop, pfalse};

const Allocator* s_defaultAllocator = &s_new;
const Policy* s_defaultPolicy = &s_refcount;

// A record is the entry followed by the policy's own bytes, in one block.
struct Entry {
    const Allocator* allocator;
    const Policy* policy;
    void* data() { return reinterpret_cast<char*>(this) + sizeof(Entry); }
};

Entry* newEntry(const Allocator* alloc, const Policy* policy) {
    char* raw = new char[sizeof(Entry) + policy->recordSize()];
    Entry* e = new (raw) Entry{alloc, policy};
    policy->initRecord(e->data());
    return e;
}

void deleteEntry(Entry* e) {
    if (e->policy)
        e->policy->freeRecord(e->data());
    delete[] reinterpret_cast<char*>(e);
}

struct Registry {
    std::map<const void*, Entry*> entries;
    ~Registry() {
        // Blocks still alive at exit are not freed, only their records.
        for (auto& kv : entries)
            deleteEntry(kv.second);
    }
};

Registry& registry() {
    static Registry s_registry;
    return s_registry;
}

Entry* find(const void* ptr) {
    auto& entries = registry().entries;
    auto it = entries.find(ptr);
    return it == entries.end() ? nullptr : it->second;
}

} // namespace

const Allocator* const NEW = &s_new;
const Allocator* const NEW_ARRAY = &s_newArray;
const Allocator* const MALLOC = &s_malloc;
const Allocator* const STACK = &s_stack;
const Policy* const REFCOUNT_POLICY = &s_refcount;
const Policy* const NO_POLICY = &s_noPolicy;

void nop(void*) {}
size_t rsize0() {
    return 0;
}
bool pfalse(void*) {
    return false;
}

void* allocate(size_t n, const Allocator* alloc, const Policy* policy) {
    if (!alloc)
        alloc = s_defaultAllocator;
    void* block = alloc->allocate(n);
    if (!block)
        return nullptr;
    registry().entries[block] = newEntry(alloc, policy ? policy : s_defaultPolicy);
    return block;
}

bool protect(const void* ptr, const Policy* policy) {
    if (!ptr || find(ptr))
        return false;
    registry().entries[ptr] = newEntry(&s_stack, policy ? policy : s_defaultPolicy);
    return true;
}

bool acquire(const void* ptr, const Policy* policy) {
    if (!ptr)
        return false;
    if (Entry* e = find(ptr)) {
        e->policy->acquire(e->data());
        return false;
    }
    registry().entries[ptr] = newEntry(s_defaultAllocator, policy ? policy : s_defaultPolicy);
    return true;
}

bool release(const void* ptr) {
    if (!ptr)
        return false;
    Entry* e = find(ptr);
    return e ? e->policy->release(e->data()) : false;
}

void free(void* ptr) {
    auto& entries = registry().entries;
    auto it = entries.find(ptr);
    if (it == entries.end())
        return;
    const Allocator* alloc = it->second->allocator;
    deleteEntry(it->second);
    entries.erase(it);
    alloc->free(ptr);
}

const Policy& defaultPolicy() {
    return *s_defaultPolicy;
}
const Policy& defaultPolicy(const Policy& replacement) {
    const Policy& previous = *s_defaultPolicy;
    s_defaultPolicy = &replacement;
    return previous;
}
const Allocator& defaultAllocator() {
    return *s_defaultAllocator;
}
const Allocator& defaultAllocator(const Allocator& replacement) {
    const Allocator& previous = *s_defaultAllocator;
    s_defaultAllocator = &replacement;
    return previous;
}

const Policy* policyOf(const void* ptr) {
    Entry* e = find(ptr);
    return e ? e->policy : nullptr;
}
const Allocator* allocatorOf(const void* ptr) {
    Entry* e = find(ptr);
    return e ? e->allocator : nullptr;
}

} // namespace brenlo::mem
