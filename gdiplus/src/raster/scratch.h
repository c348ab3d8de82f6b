// Working memory kept per thread and reused, allocated with malloc outside any drawing object, so
// that a paint allocates nothing once the first one has sized it.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <type_traits>

namespace gdiplus_cairo {

// One growing array of T per thread for each Tag, at least twice as large on each growth with its
// contents kept. Null, and freed, when the memory cannot be had.
template <class T, class Tag> class Scratch {
    static_assert(std::is_trivially_copyable_v<T> && alignof(T) <= alignof(std::max_align_t));

public:
    static T* Get(std::size_t count) {
        Block& b = block();
        if (count > b.capacity) {
            const std::size_t wanted = count > 2 * b.capacity ? count : 2 * b.capacity;
            T* grown = static_cast<T*>(std::realloc(b.data, wanted * sizeof(T)));
            if (grown == nullptr) {
                std::free(b.data);
            }
            b.data = grown;
            b.capacity = grown != nullptr ? wanted : 0;
        }
        return b.data;
    }
    // Zeroed when first had or grown; the caller must return it zeroed.
    static T* Zeroed(std::size_t count) {
        Block& b = block();
        if (count > b.capacity) {
            std::free(b.data);
            b.data = static_cast<T*>(std::calloc(count, sizeof(T)));
            b.capacity = b.data != nullptr ? count : 0;
        }
        return b.data;
    }

private:
    struct Block {
        T* data = nullptr;
        std::size_t capacity = 0;
        ~Block() { std::free(data); }
    };
    static Block& block() {
        thread_local Block b;
        return b;
    }
};

} // namespace gdiplus_cairo
