// The AVX2 forms of the table's loops: the vector mean loops instantiated
// for eight lanes, the table's row fill and the row of radii. This file
// alone is compiled for AVX2 (blur/CMakeLists.txt). It defines nothing but
// these functions, whose names no other translation unit defines, and
// calls no inline function of a shared header, so no AVX2 code can stand
// in for a function the rest of the kernel shares.
#include <immintrin.h>

#include "blur/lanes_avx2.h"
#include "blur/radius_lanes.h"
#include "blur/radius_rows.h"
#include "blur/window_means.h"

namespace window_runs {

template <RunShape shape>
int32_t MeanWindowsAvx2(const WindowRun<uint32_t>& run) {
  return run.signedSums ? MeanWindows<Avx2Lanes, shape, true>(run)
                        : MeanWindows<Avx2Lanes, shape, false>(run);
}

template int32_t MeanWindowsAvx2<WHOLE>(const WindowRun<uint32_t>&);
template int32_t MeanWindowsAvx2<ClippedShape(true, false)>(const WindowRun<uint32_t>&);
template int32_t MeanWindowsAvx2<ClippedShape(false, true)>(const WindowRun<uint32_t>&);
template int32_t MeanWindowsAvx2<ClippedShape(true, true)>(const WindowRun<uint32_t>&);

namespace {

// Eight lanes of 32-bit running sums: lane k gets the sum of lanes 0 .. k.
__m256i RunningSums8(__m256i v) {
  v = _mm256_add_epi32(v, _mm256_slli_si256(v, 4));
  v = _mm256_add_epi32(v, _mm256_slli_si256(v, 8));
  // Each half now holds its own running sums; the upper half gets the
  // lower half's total added.
  const __m256i lowTotal = _mm256_shuffle_epi32(v, _MM_SHUFFLE(3, 3, 3, 3));
  return _mm256_add_epi32(v, _mm256_permute2x128_si256(lowTotal, lowTotal, 0x08));
}

}  // namespace

int32_t RadiiAvx2(const RadiusRule& rule, const float* z, int32_t count, int32_t* radii,
                  const float* ahead) {
  return VectorRadii<Avx2Lanes>(rule, z, count, radii, ahead);
}

int32_t FillRowAvx2(const uint32_t* above, const BMM_Color_64* pixels, const BMM_Color_64* next,
                    int32_t width, size_t planeStride, uint32_t* out, uint32_t sums[CHANNELS]) {
  const __m256i low16 = _mm256_set1_epi32(0xFFFF);
  // Dword k of four pixels is word pair k: (r | g << 16) of pixel k / 2 for
  // even k, (b | a << 16) for odd k. This puts the (r | g) words first.
  const __m256i pairs = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
  const __m256i last = _mm256_set1_epi32(7);
  __m256i carry[CHANNELS] = {_mm256_setzero_si256(), _mm256_setzero_si256(),
                             _mm256_setzero_si256()};
  int32_t x = 0;
  for (; x + 8 <= width; x += 8) {
    // Eight pixels are one cache line long.
    _mm_prefetch(reinterpret_cast<const char*>(next + x), _MM_HINT_T0);
    const __m256i first = _mm256_permutevar8x32_epi32(
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixels + x)), pairs);
    const __m256i second = _mm256_permutevar8x32_epi32(
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixels + x + 4)), pairs);
    const __m256i redGreen = _mm256_permute2x128_si256(first, second, 0x20);
    const __m256i blueAlpha = _mm256_permute2x128_si256(first, second, 0x31);
    const __m256i channels[CHANNELS] = {_mm256_and_si256(redGreen, low16),
                                        _mm256_srli_epi32(redGreen, 16),
                                        _mm256_and_si256(blueAlpha, low16)};
    for (size_t c = 0; c < CHANNELS; ++c) {
      const __m256i running = _mm256_add_epi32(RunningSums8(channels[c]), carry[c]);
      carry[c] = _mm256_permutevar8x32_epi32(running, last);
      const size_t at = c * planeStride + static_cast<size_t>(x) + 1;
      const __m256i up = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(above + at));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + at), _mm256_add_epi32(running, up));
    }
  }
  for (size_t c = 0; c < CHANNELS; ++c) {
    sums[c] = static_cast<uint32_t>(_mm256_cvtsi256_si32(carry[c]));
  }
  return x;
}

}  // namespace window_runs
