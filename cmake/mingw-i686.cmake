# Cross build of the 32-bit Windows DLLs that the terminal loads:
#   cmake -S . -B build/mingw32 -G Ninja --toolchain cmake/mingw-i686.cmake
# The win32 thread model keeps libwinpthread out of the DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(TORVIK_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${TORVIK_MINGW_TRIPLET}-gcc-win32)
set(CMAKE_CXX_COMPILER ${TORVIK_MINGW_TRIPLET}-g++-win32)
set(CMAKE_RC_COMPILER ${TORVIK_MINGW_TRIPLET}-windres)
set(CMAKE_OBJDUMP ${TORVIK_MINGW_TRIPLET}-objdump)

# IEEE double arithmetic in SSE2 registers, never the x87 unit with its
# excess precision, so results match the 64-bit builds bit for bit. The host
# may call with a stack aligned to 4 bytes only; the compiler realigns where
# it needs more.
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -mincoming-stack-boundary=2 -ffp-contract=off")
set(CMAKE_C_FLAGS_INIT "${CMAKE_CXX_FLAGS_INIT}")

# Only system DLLs may be imported: the compiler's runtime goes in statically.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

set(CMAKE_FIND_ROOT_PATH /usr/${TORVIK_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
