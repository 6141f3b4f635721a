#!/usr/bin/env bash
# The main job: installs what the build needs, builds the strategy tester and
# runs it on the bundled history, one complete report per test in out/:
# the hourly files as they are, the same hours built from their M15 bars
# with the real intrabar path, the tick week with every real tick, EURUSD
# and USDJPY as one account with a broker's costs, and gold and bitcoin
# with their instrument table's contracts; then a batch (a grid over both
# hourly files with its summary) and a walk-forward, in out/batch_*.
# Extra arguments go to every run (for example --decide tick).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build/native -j "$(nproc)" --target torvik-tester

tester=build/native/tester/torvik-tester
run() {  # report name, then the tester's arguments
  local name=$1
  shift
  echo "== $name"
  "$tester" "$@" --report "out/$name" "${extra[@]}"
}
extra=("$@")
run EURUSD_H1 --bars data/EURUSD_H1.csv
run USDJPY_H1 --bars data/USDJPY_H1.csv
run EURUSD_M15_as_H1 --bars data/EURUSD_M15.csv --timeframe H1
run USDJPY_M15_as_H1 --bars data/USDJPY_M15.csv --timeframe H1
# pip mode 5: at pip mode 4 the week's small moves give no entry
run EURUSD_ticks_as_M5 --bars data/EURUSD_ticks.csv --timeframe M5 --window 98 --pip-mode 5
run EURUSD_USDJPY_portfolio --bars data/EURUSD_H1.csv --bars data/USDJPY_H1.csv \
  --commission 7 --costs table --slippage 0:2
run XAUUSD_H1 --bars data/XAUUSD_H1.csv
run BTCUSD_H1 --bars data/BTCUSD_H1.csv
batch() {  # folder name, then the batch's arguments
  local name=$1
  shift
  echo "== $name"
  "$tester" batch "$@" --report "out/$name" --force "${extra[@]}"
}
batch batch_grid --bars data/EURUSD_H1.csv,data/USDJPY_H1.csv \
  --spread 8,12,20 --window 200:400:100 --criterion profit-factor
batch batch_walk_forward --bars data/EURUSD_H1.csv --window 200:400:100 --pip-mode 4,5 \
  --in-sample 12mo --out-of-sample 6mo
echo "== reports in out/: report.html, report.json, trades.csv and equity.csv per test;"
echo "   summary.html, summary.csv and summary.json per batch"
