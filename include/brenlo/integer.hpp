// An integer wrapped in a class, so that hash codes can be types of their own.
#pragma once

namespace brenlo {

template <class T> struct Integer {
    T value;

    Integer() {}
    Integer(T v) : value(v) {}
    operator T() const { return value; }

#define BRENLO_COMPOUND(op)                                                                        \
    Integer& operator op(const Integer& o) {                                                       \
        value op o.value;                                                                          \
        return *this;                                                                              \
    }
    BRENLO_COMPOUND(+=)
    BRENLO_COMPOUND(-=)
    BRENLO_COMPOUND(*=)
    BRENLO_COMPOUND(/=)
    BRENLO_COMPOUND(%=)
    BRENLO_COMPOUND(&=)
    BRENLO_COMPOUND(|=)
    BRENLO_COMPOUND(^=)
    BRENLO_COMPOUND(<<=)
    BRENLO_COMPOUND(>>=)
#undef BRENLO_COMPOUND

    Integer& operator++() {
        ++value;
        return *this;
    }
    Integer operator++(int) {
        return Integer(value++);
    }
    Integer& operator--() {
        --value;
        return *this;
    }
    Integer operator--(int) {
        return Integer(value--);
    }
    Integer operator~() const {
        return Integer(static_cast<T>(~value));
    }
    Integer operator-() const {
        return Integer(static_cast<T>(-value));
    }
    bool operator!() const {
        return !value;
    }
};

#define BRENLO_BINARY(op)                                                                          \
    template <class T> Integer<T> operator op(const Integer<T>& a, const Integer<T>& b) {          \
        return Integer<T>(static_cast<T>(a.value op b.value));                                     \
    }
BRENLO_BINARY(+)
BRENLO_BINARY(-)
BRENLO_BINARY(*)
BRENLO_BINARY(/)
BRENLO_BINARY(%)
BRENLO_BINARY(&)
BRENLO_BINARY(|)
BRENLO_BINARY(^)
BRENLO_BINARY(<<)
BRENLO_BINARY(>>)
#undef BRENLO_BINARY

#define BRENLO_COMPARE(op)                                                                         \
    template <class T> bool operator op(const Integer<T>& a, const Integer<T>& b) {                \
        return a.value op b.value;                                                                 \
    }
BRENLO_COMPARE(==)
BRENLO_COMPARE(!=)
BRENLO_COMPARE(<)
BRENLO_COMPARE(<=)
BRENLO_COMPARE(>)
BRENLO_COMPARE(>=)
BRENLO_COMPARE(&&)
BRENLO_COMPARE(||)
#undef BRENLO_COMPARE

} // namespace brenlo
