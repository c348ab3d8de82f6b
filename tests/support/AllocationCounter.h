// Counts calls of the global operator new while a test watches, to show that a path allocates
// nothing. Link AllocationCounter.cpp into a test program to replace the global operators.
#pragma once

#include <cstddef>

namespace allocation_counter {
void Start();
// The number of allocations since Start().
std::size_t Stop();
} // namespace allocation_counter
