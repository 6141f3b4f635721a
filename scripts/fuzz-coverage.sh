#!/usr/bin/env bash
# Source-based coverage of the engine reached by fuzz inputs: builds the corpus
# replay with clang's coverage instrumentation in build/coverage, replays the
# given corpus directories (fuzz/corpus when none is given) and prints the
# llvm-cov summary per engine file. Not part of CI; needs clang and llvm
# (scripts/install-deps.sh llvm).
#   scripts/fuzz-coverage.sh [CORPUS_DIR...]
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
[ $# -gt 0 ] || set -- fuzz/corpus

flags="-fprofile-instr-generate -fcoverage-mapping"
CC=clang CXX=clang++ cmake -S . -B build/coverage -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fprofile-instr-generate" >/dev/null
cmake --build build/coverage -j "$jobs" --target torvik_corpus_replay_eng >/dev/null

profile=build/coverage/replay
rm -f "$profile".profraw
LLVM_PROFILE_FILE="$profile.profraw" build/coverage/fuzz/torvik_corpus_replay_eng "$@" 2>/dev/null | head -1
llvm-profdata merge -o "$profile.profdata" "$profile.profraw"
llvm-cov report build/coverage/fuzz/torvik_corpus_replay_eng -instr-profile="$profile.profdata" \
  engine market calibration signals money messages
