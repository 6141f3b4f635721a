# The part of the MinGW-w64 toolchains that both Windows builds share; the
# including file sets CMAKE_SYSTEM_PROCESSOR, TORVIK_MINGW_TRIPLET and its
# compile flags first. The win32 thread model keeps libwinpthread out.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${TORVIK_MINGW_TRIPLET}-gcc-win32)
set(CMAKE_CXX_COMPILER ${TORVIK_MINGW_TRIPLET}-g++-win32)
set(CMAKE_RC_COMPILER ${TORVIK_MINGW_TRIPLET}-windres)
set(CMAKE_OBJDUMP ${TORVIK_MINGW_TRIPLET}-objdump)
set(CMAKE_C_FLAGS_INIT "${CMAKE_CXX_FLAGS_INIT}")

# Only system DLLs may be imported: the compiler's runtime goes in statically.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

set(CMAKE_FIND_ROOT_PATH /usr/${TORVIK_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
