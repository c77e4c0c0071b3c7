// Compile-time helpers.
#pragma once

#include <type_traits>

namespace brenlo::meta {

/// Whether `T` has a member `hashCode()` (used to let key types hash themselves).
template <class T, class = void> struct HasHashCode : std::false_type {};
template <class T>
struct HasHashCode<T, std::void_t<decltype(std::declval<const T&>().hashCode())>> : std::true_type {
};

template <bool B> using Bool = std::integral_constant<bool, B>;

} // namespace brenlo::meta
