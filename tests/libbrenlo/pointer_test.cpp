#include "brenlo/pointer.hpp"

#include <gtest/gtest.h>

#include <string>

using namespace brenlo::mem;

namespace {

struct Counted {
    static int alive;
    static int destroyed;
    int value = 7;
    Counted() { ++alive; }
    ~Counted() {
        --alive;
        ++destroyed;
    }
};
int Counted::alive = 0;
int Counted::destroyed = 0;

struct Base {
    virtual ~Base() { ++baseGone; }
    static int baseGone;
};
int Base::baseGone = 0;
struct Derived : Base {
    std::string payload = std::string(100, 'x');
    ~Derived() override { ++derivedGone; }
    static int derivedGone;
};
int Derived::derivedGone = 0;

struct Thrower {
    static int built;
    Thrower() {
        if (++built == 3)
            throw 42;
    }
};
int Thrower::built = 0;

} // namespace

TEST(Registry, AcquireReleaseFree) {
    int* p = new int(5);
    EXPECT_TRUE(acquire(p, nullptr));
    EXPECT_FALSE(acquire(p, nullptr));
    EXPECT_EQ(policyOf(p), REFCOUNT_POLICY);
    EXPECT_EQ(allocatorOf(p), NEW);
    EXPECT_FALSE(release(p));
    EXPECT_TRUE(release(p));
    brenlo::mem::free(p);
    EXPECT_EQ(policyOf(p), nullptr);

    int local = 0;
    EXPECT_FALSE(release(nullptr));
    EXPECT_FALSE(release(&local));
    brenlo::mem::free(&local); // unregistered: left alone
    EXPECT_FALSE(acquire(nullptr, nullptr));
    EXPECT_TRUE(protect(&local, nullptr));
    EXPECT_FALSE(protect(&local, nullptr));
    EXPECT_EQ(allocatorOf(&local), STACK);
    EXPECT_TRUE(release(&local));
    brenlo::mem::free(&local); // STACK frees nothing
    EXPECT_EQ(allocatorOf(&local), nullptr);

    void* block = allocate(16, MALLOC, NO_POLICY);
    ASSERT_NE(block, nullptr);
    EXPECT_FALSE(release(block));
    brenlo::mem::free(block);
}

TEST(Registry, Defaults) {
    const Policy& previous = defaultPolicy(*NO_POLICY);
    EXPECT_EQ(&defaultPolicy(), NO_POLICY);
    defaultPolicy(previous);
    EXPECT_EQ(&defaultPolicy(), REFCOUNT_POLICY);
    const Allocator& before = defaultAllocator(*MALLOC);
    void* block = allocate(8, nullptr, nullptr);
    EXPECT_EQ(allocatorOf(block), MALLOC);
    defaultAllocator(before);
    EXPECT_TRUE(release(block));
    brenlo::mem::free(block);
}

TEST(Registry, MakeInBounds) {
    EXPECT_EQ(makeInBounds(8, 4, 10), 2u);
    EXPECT_EQ(makeInBounds(10, 4, 10), 0u);
    EXPECT_EQ(makeInBounds(0, 4, 10), 4u);
    EXPECT_EQ(makeInBounds(12, 4, 10), 0u);
}

TEST(PointerHandle, LastHandleDestroysOnce) {
    Counted::alive = Counted::destroyed = 0;
    {
        Pointer<Counted> a(new Counted, nullptr);
        {
            Pointer<Counted> b(a);
            Pointer<Counted> c;
            c = b;
            c = c;
            EXPECT_EQ(c->value, 7);
            EXPECT_TRUE(static_cast<bool>(c));
        }
        EXPECT_EQ(Counted::destroyed, 0);
        a = a;
    }
    EXPECT_EQ(Counted::destroyed, 1);
    EXPECT_EQ(Counted::alive, 0);
    EXPECT_FALSE(static_cast<bool>(Pointer<Counted>()));
}

TEST(PointerHandle, PolymorphicTargetsAndNoPolicy) {
    Base::baseGone = Derived::derivedGone = 0;
    { Pointer<Base> p(new Derived, nullptr); }
    EXPECT_EQ(Derived::derivedGone, 1);
    EXPECT_EQ(Base::baseGone, 1);

    Counted::destroyed = 0;
    Counted* raw = new Counted;
    { Pointer<Counted> p(raw, NO_POLICY); }
    EXPECT_EQ(Counted::destroyed, 0);
    EXPECT_EQ(policyOf(raw), NO_POLICY);
    raw->~Counted();
    brenlo::mem::free(raw); // drops the record and returns the storage through NEW
}

TEST(ArrayHandle, SharingAndDestruction) {
    Counted::alive = Counted::destroyed = 0;
    {
        Array<Counted> a(3, MALLOC, nullptr);
        EXPECT_EQ(a.size(), 3u);
        EXPECT_EQ(Counted::alive, 3);
        Array<Counted> copy(a);
        a = Array<Counted>();
        EXPECT_EQ(copy[2].value, 7);
        EXPECT_EQ(Counted::destroyed, 0);
        copy = copy;
    }
    EXPECT_EQ(Counted::destroyed, 3);
    Array<int> empty;
    EXPECT_EQ(empty.size(), 0u);
    Array<int> zero(0, MALLOC, nullptr);
    EXPECT_EQ(zero.size(), 0u);
    EXPECT_NE(zero.pointer(), nullptr);
    EXPECT_EQ(empty.pointer(), nullptr);
    Array<std::string> strings(2, MALLOC, nullptr);
    strings[1] = std::string(64, 's');
    Array<std::string> shared = strings;
    EXPECT_EQ(shared[1].size(), 64u);
}

TEST(ArrayHandle, ConstructorFailuresCleanUp) {
    Thrower::built = 0;
    EXPECT_THROW(Array<Thrower>(5, MALLOC, nullptr), int);
    static const Allocator nothing = {[](size_t) -> void* { return nullptr; }, [](void*) {}};
    EXPECT_THROW(Array<int>(4, &nothing, nullptr), std::bad_alloc);
    EXPECT_THROW(allocate(4, STACK, nullptr), std::bad_alloc);
}
