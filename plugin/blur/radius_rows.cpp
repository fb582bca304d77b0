#include "blur/radius_rows.h"

#if defined(KESTRION_VECTOR_LOOPS) && defined(__SSE2__)
#include "blur/lanes_sse2.h"
#include "blur/radius_lanes.h"
#endif

void RadiusRow(const RadiusRule& rule, const float* z, int32_t count, int32_t* radii,
               [[maybe_unused]] window_runs::MeanLoops loops, [[maybe_unused]] const float* ahead) {
  int32_t done = 0;
  if (!ahead) ahead = z;
#if defined(KESTRION_AVX512_LOOPS)
  if (loops == window_runs::MeanLoops::Avx512)
    done = window_runs::RadiiAvx512(rule, z, count, radii, ahead);
#endif
#if defined(KESTRION_AVX2_LOOPS)
  if (loops == window_runs::MeanLoops::Avx2)
    done = window_runs::RadiiAvx2(rule, z, count, radii, ahead);
#endif
#if defined(KESTRION_VECTOR_LOOPS) && defined(__SSE2__)
  if (loops == window_runs::MeanLoops::Sse2) {
    done = window_runs::VectorRadii<window_runs::Sse2Lanes>(rule, z, count, radii, ahead);
  }
#endif
  BlurRadii(rule, z + done, count - done, radii + done);
}
