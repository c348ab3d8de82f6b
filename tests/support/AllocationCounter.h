// Counts calls of the global operator new while a test watches, to show that a path allocates
// nothing. Linking it into a program replaces the global operators.
#pragma once

#include <cstddef>

namespace allocation_counter {
void Start();
// The number of allocations since Start().
std::size_t Stop();
// Called on every allocation, from whichever thread makes it, until replaced; null for none.
using Hook = void (*)();
void SetHook(Hook hook);
} // namespace allocation_counter
