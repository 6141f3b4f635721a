#!/usr/bin/env bash
# The unit tests as a static 32-bit x86 Linux binary (SSE2 doubles, the same
# fp flags), run under qemu-i386-static: 32-bit results must equal 64-bit
# ones. GoogleTest is built for i386 from /usr/src/googletest first.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
toolchain=$PWD/cmake/linux-i386.cmake
gtest=$PWD/build/i386-gtest/install

if ! command -v qemu-i386-static >/dev/null || ! echo 'int main(){}' | g++ -m32 -static -x c++ - -o /dev/null 2>/dev/null; then
  echo "SKIP 32-bit unit tests: g++-multilib or qemu-user-static missing (scripts/install-deps.sh installs them)"
  exit 0
fi

if [ ! -f "$gtest/lib/cmake/GTest/GTestConfig.cmake" ]; then
  cmake -S /usr/src/googletest -B build/i386-gtest -G Ninja --toolchain "$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON -DCMAKE_INSTALL_PREFIX="$gtest" >/dev/null
  cmake --build build/i386-gtest -j "$jobs" >/dev/null
  cmake --install build/i386-gtest >/dev/null
fi

cmake -S . -B build/i386 -G Ninja --toolchain "$toolchain" -DCMAKE_BUILD_TYPE=Release \
  -DGTest_DIR="$gtest/lib/cmake/GTest" >/dev/null
# Only the unit tests: the rest of the tree is not needed in 32 bits. glibc
# warns about getaddrinfo in a static GoogleTest; nothing here uses it.
log=build/i386/build.log
if ! cmake --build build/i386 -j "$jobs" --target torvik_tests >"$log" 2>&1; then
  cat "$log"
  exit 1
fi
grep -v -e getaddrinfo -e 'in function .*MakeConnection' "$log" | grep -E 'warning|error' || true
file_format=$(od -An -tx1 -j4 -N2 build/i386/tests/torvik_tests | tr -d ' ')
[ "$file_format" = 0101 ] || { echo "FAIL build/i386/tests/torvik_tests is not a 32-bit little-endian ELF"; exit 1; }
qemu-i386-static build/i386/tests/torvik_tests --gtest_brief=1
