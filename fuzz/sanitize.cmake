# Initial cache of the sanitizer build (cmake -C fuzz/sanitize.cmake ...):
# clang with AddressSanitizer and UndefinedBehaviorSanitizer, and the fuzz
# targets. Every report aborts the program (-fno-sanitize-recover=all).
#
# UndefinedBehaviorSanitizer runs every check of the "undefined" group
# (signed-integer-overflow, float-cast-overflow, shift, integer-divide-by-zero,
# pointer-overflow, alignment, null, ...) plus "bounds", which adds the
# local-array checks the group leaves out. Two checks stay off on purpose:
#  - float-divide-by-zero: not undefined in IEEE arithmetic, and the engine
#    divides by a zero point or a zero pip size by design (the quotient's
#    infinity or not-a-number is then turned into -2147483648 or 0).
#  - vptr: the engine has no polymorphic types and is built without RTTI.
set(CMAKE_C_COMPILER clang CACHE STRING "")
set(CMAKE_CXX_COMPILER clang++ CACHE STRING "")
set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "")
set(TORVIK_SANITIZER_FLAGS
    "-fsanitize=address,undefined,bounds -fno-sanitize=vptr -fno-sanitize-recover=all -fno-omit-frame-pointer"
    CACHE STRING "Sanitizers of every target of this build")
set(CMAKE_CXX_FLAGS "${TORVIK_SANITIZER_FLAGS}" CACHE STRING "")
set(CMAKE_C_FLAGS "${TORVIK_SANITIZER_FLAGS}" CACHE STRING "")
set(CMAKE_EXE_LINKER_FLAGS "${TORVIK_SANITIZER_FLAGS}" CACHE STRING "")
# A shared library gets no sanitizer runtime of its own; linking it against
# the shared one resolves its checks (the deliverables link with
# --no-undefined). No program here loads them, so the programs keep the
# static runtime.
set(CMAKE_SHARED_LINKER_FLAGS "${TORVIK_SANITIZER_FLAGS} -shared-libasan" CACHE STRING "")
set(TORVIK_BUILD_FUZZER ON CACHE BOOL "")
# The Python module would need the sanitizer runtime preloaded into the
# interpreter; its C++ is the tester's, which this build checks already.
set(TORVIK_BUILD_PYTHON OFF CACHE BOOL "")
