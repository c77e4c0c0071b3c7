// Shared ownership without intrusive headers: one process-wide registry of
// managed blocks, each with the allocator that frees it and a policy that
// decides when it may go, and the handles Pointer<T> and Array<T> on top.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>

namespace brenlo::mem {

typedef void* (*AllocateFunc)(size_t);
typedef void (*FreeFunc)(void*);

struct Allocator {
    AllocateFunc allocate;
    FreeFunc free;
};

typedef size_t (*RecordSizeFunc)();
typedef void (*InitRecordFunc)(void*);
typedef void (*FreeRecordFunc)(void*);
typedef void (*AcquireFunc)(void*);
typedef bool (*ReleaseFunc)(void*);

struct Policy {
    RecordSizeFunc recordSize;
    InitRecordFunc initRecord;
    FreeRecordFunc freeRecord;
    AcquireFunc acquire;
    ReleaseFunc release;
};

extern const Allocator* const NEW;
extern const Allocator* const NEW_ARRAY;
extern const Allocator* const MALLOC;
extern const Allocator* const STACK;

extern const Policy* const REFCOUNT_POLICY;
extern const Policy* const NO_POLICY;

// Building blocks for policies of one's own.
void nop(void*);
size_t rsize0();
bool pfalse(void*);

/// Allocates with `alloc` (default when null) and registers the block under
/// `policy` (default when null). Null when the allocator returns null.
void* allocate(size_t n, const Allocator* alloc, const Policy* policy);
/// Registers a block the library did not allocate; freeing it returns nothing.
bool protect(const void* ptr, const Policy* policy);
/// Adopts an unregistered block (true) or adds an owner to a registered one.
bool acquire(const void* ptr, const Policy* policy);
/// Removes an owner; true when the block may now be destroyed and freed.
bool release(const void* ptr);
/// Drops the record and returns the block to its allocator.
void free(void* ptr);

const Policy& defaultPolicy();
const Policy& defaultPolicy(const Policy& replacement);
const Allocator& defaultAllocator();
const Allocator& defaultAllocator(const Allocator& replacement);

const Policy* policyOf(const void* ptr);
const Allocator* allocatorOf(const void* ptr);

/// How many of `length` elements at `start` fit inside `bounds` elements.
inline size_t makeInBounds(size_t start, size_t length, size_t bounds) {
    if (start >= bounds)
        return 0;
    return length < bounds - start ? length : bounds - start;
}

template <class T> void doArrayDestruction(T* array, size_t len) {
    for (size_t i = 0; i < len; ++i)
        array[i].~T();
}

/// A shared handle to one object.
template <class T> class Pointer {
public:
    Pointer() : m_ptr(nullptr) {}
    Pointer(const T* ptr, const Policy* policy) : m_ptr(const_cast<T*>(ptr)) {
        acquire(m_ptr, policy);
    }
    Pointer(const T* ptr, const Policy& policy) : Pointer(ptr, &policy) {}
    Pointer(const Pointer& other) : m_ptr(other.m_ptr) { acquire(m_ptr, nullptr); }
    ~Pointer() { m_release(); }

    Pointer& operator=(const Pointer& other) {
        if (m_ptr == other.m_ptr)
            return *this;
        m_release();
        m_ptr = other.m_ptr;
        acquire(m_ptr, nullptr);
        return *this;
    }

    T* operator->() { return m_ptr; }
    const T* operator->() const { return m_ptr; }
    T& operator*() { return *m_ptr; }
    const T& operator*() const { return *m_ptr; }
    T* get() const { return m_ptr; }
    explicit operator bool() const { return m_ptr != nullptr; }

private:
    void m_release() {
        if (release(m_ptr)) {
            m_ptr->~T();
            free(const_cast<void*>(static_cast<const void*>(m_ptr)));
        }
        m_ptr = nullptr;
    }

    T* m_ptr;
};

/// A shared fixed-length array; the length lives in front of the elements.
template <class T> class Array {
    static constexpr size_t HEADER = (sizeof(size_t) + alignof(T) - 1) / alignof(T) * alignof(T);

public:
    struct Buffer {
        size_t len;
    };

    Array() : m_buf(nullptr) {}
    Array(size_t n, const Allocator* alloc, const Policy* policy) : m_buf(nullptr) {
        void* block = allocate(HEADER + n * sizeof(T), alloc, policy);
        if (!block)
            throw std::bad_alloc();
        m_buf = static_cast<Buffer*>(block);
        m_buf->len = n;
        T* elements = pointer();
        size_t built = 0;
        try {
            for (; built < n; ++built)
                new (elements + built) T;
        } catch (...) {
            while (built > 0)
                elements[--built].~T();
            release(m_buf);
            free(m_buf);
            m_buf = nullptr;
            throw;
        }
    }
    Array(const Array& other) : m_buf(other.m_buf) { acquire(m_buf, nullptr); }
    ~Array() { m_releaseArray(m_buf); }

    Array& operator=(const Array& other) {
        if (m_buf == other.m_buf)
            return *this;
        m_releaseArray(m_buf);
        m_buf = other.m_buf;
        acquire(m_buf, nullptr);
        return *this;
    }

    size_t size() const { return m_buf ? m_buf->len : 0; }
    T& operator[](size_t i) { return pointer()[i]; }
    const T& operator[](size_t i) const { return pointer()[i]; }
    T* pointer() {
        return m_buf ? reinterpret_cast<T*>(reinterpret_cast<char*>(m_buf) + HEADER) : nullptr;
    }
    const T* pointer() const {
        return m_buf ? reinterpret_cast<const T*>(reinterpret_cast<const char*>(m_buf) + HEADER)
                     : nullptr;
    }

private:
    void m_releaseArray(Buffer* buf) {
        if (release(buf)) {
            doArrayDestruction(reinterpret_cast<T*>(reinterpret_cast<char*>(buf) + HEADER),
                               buf->len);
            free(buf);
        }
    }

    Buffer* m_buf;
};

} // namespace brenlo::mem
