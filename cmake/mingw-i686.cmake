# 32-bit Windows: KESTRION.FLT as a PE32 DLL (see mingw.cmake).
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KESTRION_MINGW_TRIPLE i686-w64-mingw32)
set(KESTRION_WINE_ARCH win32)
# SSE2 arithmetic rather than the x87 unit's wider intermediates, so that
# every float operation rounds as it does in the 64-bit builds and the
# renders agree bit for bit.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
