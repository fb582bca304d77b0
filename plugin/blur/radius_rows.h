// radius_rows.h: the radii of a row of pixels with the vector loops a table
// chose (blur/window_sums.h), each exactly BlurRadius's (blur/radius_rule.h).
#pragma once

#include <cstdint>

#include "blur/radius_rule.h"
#include "blur/window_run.h"

// radii[x] = BlurRadius(rule, z[x]) for x in 0 .. count - 1. `ahead`, when
// not null, is the Z of the row the next call will be given: a row of Z is
// read once, from memory, so the vector loops fetch the next one into the
// cache meanwhile.
void RadiusRow(const RadiusRule& rule, const float* z, int32_t count, int32_t* radii,
               window_runs::MeanLoops loops, const float* ahead = nullptr);

namespace window_runs {

// RadiusRow's vector loop with AVX2, eight pixels at a time
// (blur/radius_lanes.h); only to be called when the processor has it.
// Returns how many pixels were done.
int32_t RadiiAvx2(const RadiusRule& rule, const float* z, int32_t count, int32_t* radii,
                  const float* ahead);

// The same with AVX-512, sixteen pixels at a time.
int32_t RadiiAvx512(const RadiusRule& rule, const float* z, int32_t count, int32_t* radii,
                    const float* ahead);

}  // namespace window_runs
