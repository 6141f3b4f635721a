# Cross build of the 32-bit Windows DLLs that the terminal loads:
#   cmake -S . -B build/mingw32 -G Ninja --toolchain cmake/mingw-i686.cmake
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TORVIK_MINGW_TRIPLET i686-w64-mingw32)

# IEEE double arithmetic in SSE2 registers, never the x87 unit with its
# excess precision, so results match the 64-bit builds bit for bit. The host
# may call with a stack aligned to 4 bytes only; the compiler realigns where
# it needs more.
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -mincoming-stack-boundary=2 -ffp-contract=off")

include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
