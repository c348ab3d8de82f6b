// Watches what module code does between Begin and End: calls of the global operator new and of
// the blocking pthread lock functions. Host code that runs inside such a window (a callback from
// the module) is kept out of the count with a HostScope.
#pragma once

#include <cstdint>

namespace probe {

struct Counts {
    uint64_t allocations = 0;
    uint64_t locks = 0;
};

void Begin();
Counts End();

// Marks host code running inside a module call: nothing it does is counted.
class HostScope {
public:
    HostScope();
    ~HostScope();
    HostScope(const HostScope&) = delete;
    HostScope& operator=(const HostScope&) = delete;
};

// Counts a lock taken by module code; the lock interposers call it.
void NoteLock();
// Counts an allocation made by module code; the allocation hooks call it.
void NoteAllocation();

} // namespace probe
