# 64-bit Windows: the same source, for machines whose Wine runs only 64-bit
# programs.
set(HALFMAP_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
