// The AVX-512 forms of the table's loops: the vector mean loops
// instantiated for sixteen lanes, the table's row fill and the row of
// radii. This file alone is compiled for AVX-512 (blur/CMakeLists.txt). As
// with the AVX2 file, it defines nothing but these functions, whose names
// no other translation unit defines, and calls no inline function of a
// shared header, so no AVX-512 code can stand in for a function the rest of
// the kernel shares.
#include <immintrin.h>

#include "blur/lanes_avx512.h"
#include "blur/radius_lanes.h"
#include "blur/radius_rows.h"
#include "blur/window_means.h"

namespace window_runs {

template <RunShape shape>
int32_t MeanWindowsAvx512(const WindowRun<uint32_t>& run) {
  return run.signedSums ? MeanWindows<Avx512Lanes, shape, true>(run)
                        : MeanWindows<Avx512Lanes, shape, false>(run);
}

template int32_t MeanWindowsAvx512<WHOLE>(const WindowRun<uint32_t>&);
template int32_t MeanWindowsAvx512<ClippedShape(true, false)>(const WindowRun<uint32_t>&);
template int32_t MeanWindowsAvx512<ClippedShape(false, true)>(const WindowRun<uint32_t>&);
template int32_t MeanWindowsAvx512<ClippedShape(true, true)>(const WindowRun<uint32_t>&);

namespace {

// Sixteen lanes of 32-bit running sums: lane k gets the sum of lanes 0 ..
// k, by adding the vector moved up by 1, 2, 4 and 8 lanes.
__m512i RunningSums16(__m512i v) {
  const __m512i zero = _mm512_setzero_si512();
  v = _mm512_add_epi32(v, _mm512_alignr_epi32(v, zero, 15));
  v = _mm512_add_epi32(v, _mm512_alignr_epi32(v, zero, 14));
  v = _mm512_add_epi32(v, _mm512_alignr_epi32(v, zero, 12));
  return _mm512_add_epi32(v, _mm512_alignr_epi32(v, zero, 8));
}

// The word indices that gather the channels of sixteen pixels from two
// vectors of eight pixels each (four words a pixel; 32 + i is word i of
// the second): words 0 .. 15 of redGreen pick r of pixels 0 .. 15, words
// 16 .. 31 their g; words 0 .. 15 of blue pick their b (the rest repeat
// them and are not used).
struct ChannelWords {
  alignas(64) int16_t redGreen[32];
  alignas(64) int16_t blue[32];
};
constexpr ChannelWords MakeChannelWords() {
  ChannelWords words{};
  for (int k = 0; k < 16; ++k) {
    const int first = (k < 8 ? 0 : 32) + 4 * (k % 8);
    words.redGreen[k] = static_cast<int16_t>(first);
    words.redGreen[16 + k] = static_cast<int16_t>(first + 1);
    words.blue[k] = static_cast<int16_t>(first + 2);
    words.blue[16 + k] = static_cast<int16_t>(first + 2);
  }
  return words;
}
constexpr ChannelWords CHANNEL_WORDS = MakeChannelWords();

}  // namespace

int32_t RadiiAvx512(const RadiusRule& rule, const float* z, int32_t count, int32_t* radii,
                    const float* ahead) {
  return VectorRadii<Avx512Lanes>(rule, z, count, radii, ahead);
}

int32_t FillRowAvx512(const uint32_t* above, const BMM_Color_64* pixels, const BMM_Color_64* next,
                      int32_t width, size_t planeStride, uint32_t* out, uint32_t sums[CHANNELS]) {
  const __m512i redGreenIndex = _mm512_load_si512(CHANNEL_WORDS.redGreen);
  const __m512i blueIndex = _mm512_load_si512(CHANNEL_WORDS.blue);
  const __m512i last = _mm512_set1_epi32(15);
  __m512i carry[CHANNELS] = {_mm512_setzero_si512(), _mm512_setzero_si512(),
                             _mm512_setzero_si512()};
  int32_t x = 0;
  for (; x + 16 <= width; x += 16) {
    _mm_prefetch(reinterpret_cast<const char*>(next + x), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(next + x + 8), _MM_HINT_T0);
    const __m512i first = _mm512_loadu_si512(pixels + x);
    const __m512i second = _mm512_loadu_si512(pixels + x + 8);
    const __m512i redGreen = _mm512_permutex2var_epi16(first, redGreenIndex, second);
    const __m512i blue = _mm512_permutex2var_epi16(first, blueIndex, second);
    const __m512i channels[CHANNELS] = {
        _mm512_cvtepu16_epi32(_mm512_castsi512_si256(redGreen)),
        _mm512_cvtepu16_epi32(_mm512_extracti64x4_epi64(redGreen, 1)),
        _mm512_cvtepu16_epi32(_mm512_castsi512_si256(blue))};
    for (size_t c = 0; c < CHANNELS; ++c) {
      const __m512i running = _mm512_add_epi32(RunningSums16(channels[c]), carry[c]);
      carry[c] = _mm512_permutexvar_epi32(last, running);
      const size_t at = c * planeStride + static_cast<size_t>(x) + 1;
      const __m512i up = _mm512_loadu_si512(above + at);
      _mm512_storeu_si512(out + at, _mm512_add_epi32(running, up));
    }
  }
  for (size_t c = 0; c < CHANNELS; ++c) {
    sums[c] = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm512_castsi512_si128(carry[c])));
  }
  return x;
}

}  // namespace window_runs
