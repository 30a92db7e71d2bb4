# Shared part of the MinGW-w64 cross toolchains. The includer sets
# HALFMAP_MINGW_TRIPLE and CMAKE_SYSTEM_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${HALFMAP_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${HALFMAP_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${HALFMAP_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${HALFMAP_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# One self-contained executable: the C++ runtime and winpthreads are linked
# in, so nothing but system DLLs has to lie beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Windows headers: wide functions, nothing from the old API surface.
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
