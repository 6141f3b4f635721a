#!/usr/bin/env bash
# The Windows deliverables: cross-builds TORVIK_ENG.dll and TORVIK_RUS.dll for
# 32-bit Windows and inspects them (exports, stack cleanup, imports, PE32),
# builds the MetaTrader 4 package from them and checks it (file list, the
# same DLL bytes, their version resources, a rebuild giving the same zip);
# then builds the same DLLs and the load test for x86-64 and runs the load
# test in wine64, a real Windows loader (32-bit programs cannot run here).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
targets=(--target torvik_eng torvik_rus torvik_load_test)

build() {  # build dir, toolchain file
  cmake -S . -B "$1" -G Ninja --toolchain "$PWD/$2" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$1" -j "$jobs" "${targets[@]}"
}

if command -v i686-w64-mingw32-g++-win32 >/dev/null; then
  echo "-- 32-bit DLLs: build/mingw32"
  build build/mingw32 cmake/mingw-i686.cmake
  scripts/check-dlls.sh build/mingw32

  echo "-- the MetaTrader 4 package"
  scripts/package-mt4.sh
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/mingw32/CMakeCache.txt)
  package=build/torvik-$version-mt4.zip
  /usr/bin/python3 scripts/check-mt4-zip.py "$package" build/mingw32 "$version"
  again=build/mingw32/package-again.zip
  /usr/bin/python3 scripts/make-mt4-zip.py "$again" . build/mingw32/TORVIK_ENG.dll build/mingw32/TORVIK_RUS.dll
  cmp -s "$package" "$again" || { echo "FAIL $package: the same inputs give another zip"; exit 1; }
  rm -f "$again"
  echo "ok   $package: written again from the same inputs, the same bytes"
else
  echo "SKIP 32-bit DLLs: i686-w64-mingw32-g++-win32 missing (scripts/install-deps.sh installs g++-mingw-w64-i686-win32)"
fi

if ! command -v x86_64-w64-mingw32-g++-win32 >/dev/null; then
  echo "SKIP wine64 load test: x86_64-w64-mingw32-g++-win32 missing (scripts/install-deps.sh installs g++-mingw-w64-x86-64-win32)"
  exit 0
fi
echo "-- 64-bit DLLs and load test: build/mingw64"
build build/mingw64 cmake/mingw-x86_64.cmake
scripts/check-dlls.sh build/mingw64

# Debian keeps the 64-bit loader out of PATH.
wine=""
for w in wine64 /usr/lib/wine/wine64 wine; do
  if command -v "$w" >/dev/null; then wine=$(command -v "$w"); break; fi
done
if [ -z "$wine" ]; then
  echo "SKIP wine64 load test: wine64 missing (scripts/install-deps.sh installs it)"
  exit 0
fi

# A private prefix; its first start creates it, which takes a while.
export WINEPREFIX=$PWD/build/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "-- creating the wine prefix $WINEPREFIX"
  timeout 600 "$wine" wineboot -i >/dev/null 2>&1 || echo "(wineboot ended with $?; trying the load test anyway)"
fi
echo "-- load test in wine64"
status=0
timeout 300 "$wine" build/mingw64/torvik_load_test.exe || status=$?
# Stop the prefix's wineserver, which lingers after the last program ends.
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
"$wineserver" -k 2>/dev/null || true
[ "$status" -eq 0 ] || { echo "FAIL wine64 load test (exit $status)"; exit 1; }
