#include "PairMix.h"

#include "ChannelMean.h"

#if defined(__SSE__)
#include <immintrin.h>
#endif
#if defined(__GNUC__) && defined(__SSE__) && (defined(__x86_64__) || defined(__i386__))
#define PAIR_MIX_AVX 1 // built beside the default routine and chosen when the processor has AVX
#endif

namespace lv2dsp {

namespace {

// The pairs from first on, one at a time.
inline void MixRest(const float* left, const float* right, float* mix, float* out_left,
                    float* out_right, int32_t first, int32_t count) {
    for (int32_t i = first; i < count; ++i) {
        mix[i] = sehost::MeanOfChannels(2, [=](int c) { return c == 0 ? left[i] : right[i]; });
        if (out_left != nullptr) {
            out_left[i] = left[i];
            out_right[i] = right[i];
        }
    }
}

void MixScalar(const float* left, const float* right, float* mix, float* out_left, float* out_right,
               int32_t count) {
    MixRest(left, right, mix, out_left, out_right, 0, count);
}

// The vector routines sum from zero and halve as MeanOfChannels does: adding the pair to +0 first
// keeps its sign rules, and halving is exact as a multiplication by 0.5.

#if defined(__SSE__)
void MixSse(const float* left, const float* right, float* mix, float* out_left, float* out_right,
            int32_t count) {
    const __m128 zero = _mm_setzero_ps();
    const __m128 half = _mm_set1_ps(0.5f);
    int32_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128 l = _mm_loadu_ps(left + i);
        const __m128 r = _mm_loadu_ps(right + i);
        _mm_storeu_ps(mix + i, _mm_mul_ps(_mm_add_ps(_mm_add_ps(zero, l), r), half));
        if (out_left != nullptr) {
            _mm_storeu_ps(out_left + i, l);
            _mm_storeu_ps(out_right + i, r);
        }
    }
    MixRest(left, right, mix, out_left, out_right, i, count);
}
#endif

#if defined(PAIR_MIX_AVX)
__attribute__((target("avx"))) void MixAvx(const float* left, const float* right, float* mix,
                                           float* out_left, float* out_right, int32_t count) {
    const __m256 zero = _mm256_setzero_ps();
    const __m256 half = _mm256_set1_ps(0.5f);
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256 l = _mm256_loadu_ps(left + i);
        const __m256 r = _mm256_loadu_ps(right + i);
        _mm256_storeu_ps(mix + i, _mm256_mul_ps(_mm256_add_ps(_mm256_add_ps(zero, l), r), half));
        if (out_left != nullptr) {
            _mm256_storeu_ps(out_left + i, l);
            _mm256_storeu_ps(out_right + i, r);
        }
    }
    // Said outright, as the compiler does not always: SSE code that runs while the upper halves
    // are dirty, the module's capture among it, runs several times slower.
    _mm256_zeroupper();
    MixRest(left, right, mix, out_left, out_right, i, count);
}
#endif

} // namespace

std::vector<PairMixRoutine> PairMixRoutines() {
    std::vector<PairMixRoutine> routines;
#if defined(PAIR_MIX_AVX)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx")) {
        routines.push_back(&MixAvx);
    }
#endif
#if defined(__SSE__)
    routines.push_back(&MixSse);
#endif
    routines.push_back(&MixScalar);
    return routines;
}

} // namespace lv2dsp
