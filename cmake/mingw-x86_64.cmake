# Cross build of the same DLLs for 64-bit Windows, only so that the load test
# can run them in wine64 here (32-bit Windows programs cannot run on this
# machine). The terminal itself loads the 32-bit build.
#   cmake -S . -B build/mingw64 -G Ninja --toolchain cmake/mingw-x86_64.cmake
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TORVIK_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_CXX_FLAGS_INIT "-ffp-contract=off")

include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
