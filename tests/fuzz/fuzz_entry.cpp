// libFuzzer entry point for one target, chosen at compile time.
#include "harnesses.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::FUZZ_TARGET(data, size);
}
