# Cross build of the same DLLs for 64-bit Windows, only so that the load test
# can run them in wine64 here (32-bit Windows programs cannot run on this
# machine). The terminal itself loads the 32-bit build.
#   cmake -S . -B build/mingw64 -G Ninja --toolchain cmake/mingw-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TORVIK_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TORVIK_MINGW_TRIPLET}-gcc-win32)
set(CMAKE_CXX_COMPILER ${TORVIK_MINGW_TRIPLET}-g++-win32)
set(CMAKE_RC_COMPILER ${TORVIK_MINGW_TRIPLET}-windres)
set(CMAKE_OBJDUMP ${TORVIK_MINGW_TRIPLET}-objdump)

set(CMAKE_CXX_FLAGS_INIT "-ffp-contract=off")
set(CMAKE_C_FLAGS_INIT "${CMAKE_CXX_FLAGS_INIT}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

set(CMAKE_FIND_ROOT_PATH /usr/${TORVIK_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
