// The AVX2 instantiations of the vector mean loops. This file alone is
// compiled for AVX2 (blur/CMakeLists.txt); it defines nothing else, so no
// AVX2 code can stand in for a function the rest of the kernel shares.
#include "blur/lanes_avx2.h"
#include "blur/window_means.h"

namespace window_runs {

template <RunShape shape>
int32_t MeanWindowsAvx2(const WindowRun<uint32_t>& run) {
  return MeanWindows<Avx2Lanes, shape>(run);
}

template int32_t MeanWindowsAvx2<WHOLE>(const WindowRun<uint32_t>&);
template int32_t MeanWindowsAvx2<ClippedShape(true, false)>(const WindowRun<uint32_t>&);
template int32_t MeanWindowsAvx2<ClippedShape(false, true)>(const WindowRun<uint32_t>&);
template int32_t MeanWindowsAvx2<ClippedShape(true, true)>(const WindowRun<uint32_t>&);

}  // namespace window_runs
