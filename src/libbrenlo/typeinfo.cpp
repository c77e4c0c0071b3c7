#include "brenlo/typeinfo.hpp"

#include <cstdlib>
#include <cxxabi.h>

namespace brenlo {

std::string demangle(const char* mangled) {
    int status = 0;
    char* name = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    if (status != 0 || !name)
        return mangled;
    std::string result(name);
    std::free(name);
    return result;
}

} // namespace brenlo
