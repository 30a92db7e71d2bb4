# 32-bit Windows, the shipped build.
set(HALFMAP_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# Every processor that runs the Windows versions targeted has SSE2; without
# it the compiler cannot vectorise the row loops in 32-bit code.
set(CMAKE_C_FLAGS_INIT "-msse2")
set(CMAKE_CXX_FLAGS_INIT "-msse2")
