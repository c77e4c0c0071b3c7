// Readable type names for messages.
#pragma once

#include <string>
#include <typeinfo>

namespace brenlo {

/// The demangled name of a type, for diagnostics.
std::string demangle(const char* mangled);

template <class T> std::string typeName() {
    return demangle(typeid(T).name());
}

} // namespace brenlo
