#!/usr/bin/env bash
# The fuzz stage, after scripts/test-i386.sh and scripts/test-sanitize.sh:
#  1. the fuzz corpus replayed by the static 32-bit binaries under qemu, in
#     the build/i386 tree that the 32-bit stage configured;
#  2. the libFuzzer targets of build/sanitize for a bounded time on top of
#     their seeds: the exports in English for FUZZ_SECONDS (60 by default)
#     and in Russian for a sixth of that, on fuzz/corpus; each of the
#     tester's four readers for FUZZ_READER_SECONDS (5 by default) on
#     fuzz/reader_corpus/<format>. New inputs go to build/sanitize/fuzz-run,
#     never into the repository; a crash, a sanitizer report, a broken
#     invariant or a slow call leaves its input in
#     build/sanitize/fuzz-run/artifacts and fails.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
seconds=${FUZZ_SECONDS:-60}
reader_seconds=${FUZZ_READER_SECONDS:-5}
readers="history_center header bar_export tick_export"

if [ -f build/i386/build.ninja ] && command -v qemu-i386-static >/dev/null; then
  echo "-- fuzz corpus replay, 32-bit under qemu-i386-static"
  log=build/i386/fuzz-build.log
  if ! cmake --build build/i386 -j "$jobs" --target torvik_corpus_replay_eng torvik_corpus_replay_rus >"$log" 2>&1; then
    cat "$log"
    exit 1
  fi
  ctest --test-dir build/i386 --output-on-failure -R '^fuzz_corpus_replay_'
else
  echo "SKIP 32-bit corpus replay: build/i386 not configured (scripts/test-i386.sh) or qemu-user-static missing"
fi

[ -f build/sanitize/build.ninja ] || { echo "FAIL build/sanitize missing: run scripts/test-sanitize.sh first"; exit 1; }
cmake --build build/sanitize -j "$jobs" --target torvik_fuzz_eng torvik_fuzz_rus \
  $(for r in $readers; do echo "torvik_fuzz_reader_$r"; done) >/dev/null

run=build/sanitize/fuzz-run
rm -rf "$run"
mkdir -p "$run/artifacts"
fuzz() {  # name, program, seconds, seed folder, replay hint
  local corpus="$run/corpus-$1" log="$run/fuzz-$1.log"
  mkdir -p "$corpus"
  echo "-- libFuzzer, $1, ${3}s on top of $4"
  if ! "$2" -max_total_time="$3" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$run/artifacts/" -print_final_stats=1 "$corpus" "$4" >"$log" 2>&1; then
    grep -v '^replaying' "$log" | tail -60
    echo "FAIL the fuzzer found an input that breaks $1: $(ls "$run/artifacts")"
    echo "     replay it with $5 FILE"
    exit 1
  fi
  grep -E '^#[0-9]+.*(pulse|DONE)|^stat::(number_of_executed_units|average_exec_per_sec|new_units_added)' "$log" | tail -4
}
fuzz exports-eng build/sanitize/fuzz/torvik_fuzz_eng "$seconds" fuzz/corpus \
  "build/sanitize/fuzz/torvik_corpus_replay_eng (TORVIK_FUZZ_TRACE=1 prints the calls)"
fuzz exports-rus build/sanitize/fuzz/torvik_fuzz_rus $(( (seconds + 5) / 6 )) fuzz/corpus \
  "build/sanitize/fuzz/torvik_corpus_replay_rus (TORVIK_FUZZ_TRACE=1 prints the calls)"
for r in $readers; do
  fuzz "reader-$r" "build/sanitize/fuzz/torvik_fuzz_reader_$r" "$reader_seconds" "fuzz/reader_corpus/$r" \
    "build/sanitize/fuzz/torvik_reader_replay_$r"
done
