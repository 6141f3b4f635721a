#!/usr/bin/env bash
# The main job: installs what the build needs, builds the strategy tester and
# runs it on the bundled history, one complete report per file in out/.
# Extra arguments go to every run (for example --model ohlc).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build/native -j "$(nproc)" --target torvik-tester

tester=build/native/tester/torvik-tester
for bars in data/EURUSD_H1.csv data/USDJPY_H1.csv; do
  name=$(basename "$bars" .csv)
  echo "== $name"
  "$tester" --bars "$bars" --report "out/$name" "$@"
done
echo "== reports in out/: report.html, report.json, trades.csv and equity.csv per symbol"
