// vector_width.h: which vector loops a blur may use. Every choice gives the
// same bits; they differ only in speed.
#pragma once

enum class VectorWidth {
  Widest,      // the widest loops the build and the processor support
  EightLanes,  // the widest of at most eight 32-bit lanes (AVX2 where supported)
  Baseline,    // only the loops of the build's baseline instruction set
  None,        // plain C++ loops only
};
