// Fuzz targets: each takes arbitrary bytes, runs a reader or parser on them
// and checks a property that must hold for every input. A violated property
// throws PropertyViolation, which the fuzzer reports as a crash and the
// regression test as a failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace fuzz {

struct PropertyViolation : std::logic_error {
    using std::logic_error::logic_error;
};

int rows(const uint8_t* data, size_t size);
int values(const uint8_t* data, size_t size);
int texts(const uint8_t* data, size_t size);
int ruleTable(const uint8_t* data, size_t size);
int transactionTable(const uint8_t* data, size_t size);
int commandLine(const uint8_t* data, size_t size);
int exportTable(const uint8_t* data, size_t size);
int compressed(const uint8_t* data, size_t size);
int xesLog(const uint8_t* data, size_t size);

struct Target {
    const char* name;
    int (*run)(const uint8_t*, size_t);
};

extern const Target TARGETS[];
extern const size_t TARGET_COUNT;

} // namespace fuzz
