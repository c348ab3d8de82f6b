// A hostile but well-behaved host: drives every instance of a module through legal but demanding
// sequences and through illegal inputs that the module must survive, checking after each step
// what the module sent, what it allocated and whether it took a lock.
#pragma once

#include "ModuleLibrary.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace validator {

struct Options {
    uint64_t seed = 1;
    uint64_t operations = 100000;
    int max_instances = 6;
};

struct Report {
    uint64_t operations = 0;
    std::map<std::string, uint64_t> ops;    // operations by name
    std::map<std::string, uint64_t> inputs; // inputs by kind
    std::map<std::string, uint64_t> checks; // checks made, by kind
    std::vector<std::string> failures;      // the first few, with the operation they followed
    uint64_t failure_count = 0;

    bool Passed() const { return failure_count == 0; }
};

// Runs one seed. The module file must stay loaded while it runs.
Report Run(const sehost::ModuleLibrary& library, const Options& options);

} // namespace validator
