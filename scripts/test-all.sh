#!/usr/bin/env bash
# Runs every test of the project: the one command CI calls.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
jobs=$(nproc)

echo "== native build and unit tests"
cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build/native -j "$jobs"
ctest --test-dir build/native --output-on-failure -j "$jobs"

echo "== unit tests as a static 32-bit binary under qemu-i386-static"
scripts/test-i386.sh

echo "== Windows DLLs: 32-bit build and inspection, 64-bit load test in wine64"
scripts/test-windows.sh

echo "== all tests and the fuzz corpus under AddressSanitizer and UndefinedBehaviorSanitizer"
scripts/test-sanitize.sh

echo "== fuzz corpus 32-bit under qemu, then a minute of fuzzing the exports and seconds of each reader"
scripts/test-fuzz.sh

echo "== all tests passed"
