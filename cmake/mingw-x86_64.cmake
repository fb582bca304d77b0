# 64-bit Windows: the same sources as PE32+ (see mingw.cmake).
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KESTRION_MINGW_TRIPLE x86_64-w64-mingw32)
set(KESTRION_WINE_ARCH win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
