// A host with real threads, kept to its contract: two audio threads run the audio halves block by
// block and pass instances between them, one UI thread makes, drives, paints and deletes the
// views and whole instances, and a drawing thread paints the host's own pictures with the graphics
// library. Every exchange between the threads goes through the host's own locked queues; the
// module is called from one thread at a time per object and takes no locks itself.
#pragma once

#include "ModuleLibrary.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace validator {

struct ThreadedOptions {
    uint64_t seed = 1;
    double seconds = 10.0;
    float sample_rate = 44100.0f; // one rate for the whole process, as in a real host
};

struct ThreadedReport {
    std::map<std::string, std::map<std::string, uint64_t>> ops; // by thread, then by operation
    std::vector<std::string> failures;                          // the first few
    uint64_t failure_count = 0;

    bool Passed() const { return failure_count == 0; }
};

ThreadedReport RunThreaded(const sehost::ModuleLibrary& library, const ThreadedOptions& options);

// The command's form of a run: prints what each thread did and the failures; returns the exit
// status (0 passed, 1 failed).
int RunThreadedCommand(const sehost::ModuleLibrary& library, const ThreadedOptions& options);

} // namespace validator
