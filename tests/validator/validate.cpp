// validate: runs a module file through a hostile but well-behaved host for a number of seeds and
// reports, per seed, what it ran and whether every check held.
//
//   validate [--module FILE] [--seed N | --seeds FIRST-LAST] [--operations N]
//            [--instances N] [--quiet]
//   validate --threads [--module FILE] [--seed N] [--seconds N]
//
// With --threads it plays a host with audio threads, a UI thread and a drawing thread for a
// number of seconds (10 by default) instead.
//
// The module defaults to Module.so beside this program. The exit status is 0 when every seed
// passed, 1 when one failed and 2 when the arguments or the module file are unusable.
#include "AllocationCounter.h"
#include "HostError.h"
#include "ModuleLibrary.h"
#include "Probe.h"
#include "ThreadedValidator.h"
#include "Validator.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace {

void Usage() {
    std::fprintf(stderr, "usage: validate [--module FILE] [--seed N | --seeds FIRST-LAST] "
                         "[--operations N] [--instances N] [--quiet]\n"
                         "       validate --threads [--module FILE] [--seed N] [--seconds N]\n");
}

bool ParseCount(const char* text, uint64_t& out) {
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (end == text || *end != '\0' || text[0] == '-') {
        return false;
    }
    out = v;
    return true;
}

std::string BesideProgram(const char* argv0, const char* name) {
    const std::string self(argv0);
    const auto slash = self.rfind('/');
    return (slash == std::string::npos ? std::string(".") : self.substr(0, slash)) + "/" + name;
}

void PrintTable(const char* title, const std::map<std::string, uint64_t>& table) {
    std::printf("  %s:\n", title);
    for (const auto& [name, count] : table) {
        std::printf("    %-58s %12llu\n", name.c_str(), static_cast<unsigned long long>(count));
    }
}

} // namespace

int main(int argc, char** argv) {
    // Every allocation of the process is seen; the probe counts those that module code makes.
    allocation_counter::SetHook(&probe::NoteAllocation);
    std::string module = BesideProgram(argv[0], "Module.so");
    uint64_t first = 1, last = 1, operations = 100000, instances = 6;
    uint64_t run_seconds = 10;
    bool quiet = false, threads = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--module" && has_value) {
            module = argv[++i];
        } else if (arg == "--seed" && has_value) {
            if (!ParseCount(argv[++i], first)) {
                Usage();
                return 2;
            }
            last = first;
        } else if (arg == "--seeds" && has_value) {
            const std::string range = argv[++i];
            const auto dash = range.find('-');
            if (dash == std::string::npos || !ParseCount(range.substr(0, dash).c_str(), first) ||
                !ParseCount(range.substr(dash + 1).c_str(), last) || last < first) {
                Usage();
                return 2;
            }
        } else if (arg == "--operations" && has_value) {
            if (!ParseCount(argv[++i], operations)) {
                Usage();
                return 2;
            }
        } else if (arg == "--instances" && has_value) {
            if (!ParseCount(argv[++i], instances) || instances == 0 || instances > 64) {
                Usage();
                return 2;
            }
        } else if (arg == "--seconds" && has_value) {
            if (!ParseCount(argv[++i], run_seconds) || run_seconds == 0 || run_seconds > 86400) {
                Usage();
                return 2;
            }
        } else if (arg == "--threads") {
            threads = true;
        } else if (arg == "--quiet") {
            quiet = true;
        } else {
            Usage();
            return 2;
        }
    }

    std::unique_ptr<sehost::ModuleLibrary> library;
    try {
        library = sehost::ModuleLibrary::Load(module);
    } catch (const sehost::HostError& e) {
        std::fprintf(stderr, "validate: %s\n", e.what());
        return 2;
    }
    if (threads) {
        return validator::RunThreadedCommand(*library,
                                             {first, static_cast<double>(run_seconds), 44100.0f});
    }

    uint64_t passed = 0, failed = 0, total_operations = 0;
    std::map<std::string, uint64_t> ops, inputs, checks;
    const auto start = std::chrono::steady_clock::now();
    for (uint64_t seed = first; seed <= last; ++seed) {
        validator::Options options;
        options.seed = seed;
        options.operations = operations;
        options.max_instances = static_cast<int>(instances);
        const validator::Report report = validator::Run(*library, options);
        total_operations += report.operations;
        for (const auto& [k, v] : report.ops) {
            ops[k] += v;
        }
        for (const auto& [k, v] : report.inputs) {
            inputs[k] += v;
        }
        for (const auto& [k, v] : report.checks) {
            checks[k] += v;
        }
        if (report.Passed()) {
            ++passed;
        } else {
            ++failed;
        }
        std::printf(
            "validate: seed %llu: %llu operations: %s\n", static_cast<unsigned long long>(seed),
            static_cast<unsigned long long>(report.operations), report.Passed() ? "PASS" : "FAIL");
        for (const std::string& f : report.failures) {
            std::printf("  failed: %s\n", f.c_str());
        }
        if (report.failure_count > report.failures.size()) {
            std::printf("  (%llu failures in all)\n",
                        static_cast<unsigned long long>(report.failure_count));
        }
        std::fflush(stdout);
        if (seed == last) {
            break; // the last representable seed must not wrap around
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!quiet) {
        std::printf("validate: %s, seeds %llu to %llu, %llu operations in %.1f s\n", module.c_str(),
                    static_cast<unsigned long long>(first), static_cast<unsigned long long>(last),
                    static_cast<unsigned long long>(total_operations), seconds);
        PrintTable("operations", ops);
        PrintTable("inputs by kind", inputs);
        PrintTable("checks", checks);
    }
    std::printf("validate: %llu passed, %llu failed\n", static_cast<unsigned long long>(passed),
                static_cast<unsigned long long>(failed));
    return failed == 0 ? 0 : 1;
}
