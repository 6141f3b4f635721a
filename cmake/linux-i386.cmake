# 32-bit x86 Linux build of the unit tests, linked statically so that
# qemu-i386-static runs it without a 32-bit system:
#   cmake -S . -B build/i386 -G Ninja --toolchain cmake/linux-i386.cmake
# It proves that 32-bit code with SSE2 doubles gives the 64-bit results.
# GoogleTest is not installed for i386: build it from its sources first and
# point CMAKE_PREFIX_PATH at the result (scripts/test-all.sh does this).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_CXX_FLAGS_INIT "-m32 -msse2 -mfpmath=sse -ffp-contract=off")
set(CMAKE_C_FLAGS_INIT "${CMAKE_CXX_FLAGS_INIT}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32 -static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")

# The host's 64-bit libraries must never be picked up.
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

# ctest runs the test programs through the emulator.
find_program(TORVIK_QEMU_I386 qemu-i386-static)
if(TORVIK_QEMU_I386)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TORVIK_QEMU_I386})
endif()
