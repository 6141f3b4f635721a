#!/usr/bin/env bash
# Everything ctest knows (the unit tests, the tester's tests, the fuzz corpus
# replay of both languages) built with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer in build/sanitize; the flags and the reasons for
# the checks left out are in fuzz/sanitize.cmake. Every report aborts its
# program, so any report fails the stage.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

if ! command -v clang++ >/dev/null; then
  echo "FAIL clang++ missing (scripts/install-deps.sh installs clang and libclang-rt-14-dev)"
  exit 1
fi

cmake -C fuzz/sanitize.cmake -S . -B build/sanitize -G Ninja >/dev/null
log=build/sanitize/build.log
if ! cmake --build build/sanitize -j "$jobs" >"$log" 2>&1; then
  cat "$log"
  exit 1
fi
grep -E 'warning|error' "$log" || true

# Leaks count too; a use after return is looked for on the stack frames.
export ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build/sanitize --output-on-failure -j "$jobs"
