// An allocator for arrays written in full on several threads right after
// they are sized: a resize leaves plain elements unset, where a zero fill
// would touch every page first, on one thread.
#pragma once

#include <memory>
#include <new>
#include <utility>

namespace brenlo {

template <class T> struct Unset : std::allocator<T> {
    template <class U> struct rebind {
        using other = Unset<U>;
    };
    Unset() = default;
    template <class U> Unset(const Unset<U>&) noexcept {}
    template <class U> void construct(U* p) noexcept(noexcept(U())) {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... A> void construct(U* p, A&&... a) {
        ::new (static_cast<void*>(p)) U(std::forward<A>(a)...);
    }
};

} // namespace brenlo
