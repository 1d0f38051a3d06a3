# Cross build of tarn.exe for 64-bit Windows with MinGW-w64 (POSIX threads flavour), tests
# run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The Win64 ABI keeps the stack 16-byte aligned, and GCC spills 256-bit AVX registers with
# aligned moves as if it were 32-byte aligned: make the assembler use unaligned moves.
set(CMAKE_CXX_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")

find_program(TARN_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT TARN_WINE)
  find_program(TARN_WINE NAMES wine64 wine)
endif()
if(TARN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TARN_WINE})
endif()
