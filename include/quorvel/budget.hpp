// The miner's memory budget: how much it may hold, what it holds now, and
// the message that stops a run about to pass it.
#pragma once

#include <cstdint>
#include <string>

namespace quorvel::rule {

/// Three quarters of the memory this process may use: the machine's
/// physical memory, or a control group's limit when that is lower.
uint64_t defaultMemoryBudget();

/// "512M", "8G", "1.5T", "4096" (bytes); K, M, G and T count in 1024s and
/// may be followed by "B" or "iB". False for anything else, or for zero.
bool parseMemorySize(const std::string& text, uint64_t& bytes);

/// "1.5 GB", "512 MB": a size for people.
std::string formatMemorySize(uint64_t bytes);

/// The process's resident memory now, in bytes (0 when unknown).
uint64_t residentBytes();

/// Keeps address space within reach of the budget, so an allocation past
/// it fails inside the process (and is reported) instead of drawing the
/// kernel's out-of-memory killer onto other programs.
void capAddressSpace(uint64_t budget);

/// Has the allocator keep freed blocks of up to 32 MB for reuse instead of
/// handing them back to the kernel, which faults every page in again when
/// the next vector grows. For a program's main: it changes the process.
void keepFreedMemory();

/// Raises std::runtime_error when `need` bytes pass `budget`: the message
/// names the level (its item-set size), its candidate sets and the need.
void checkLevelBudget(uint64_t budget, uint64_t need, size_t level, uint64_t candidates);

} // namespace quorvel::rule
