#!/usr/bin/env bash
# The MetaTrader 4 package: builds TORVIK_ENG.dll and TORVIK_RUS.dll for
# 32-bit Windows in build/mingw32 (the windows-dlls preset) and writes
# build/torvik-<version>-mt4.zip, laid out as the terminal's data folder.
# The version is the one of project() in CMakeLists.txt.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v i686-w64-mingw32-g++-win32 >/dev/null; then
  echo "package-mt4: i686-w64-mingw32-g++-win32 missing (scripts/install-deps.sh installs g++-mingw-w64-i686-win32)" >&2
  exit 1
fi
cmake --preset windows-dlls >/dev/null
cmake --build build/mingw32 -j "$(nproc)" --target torvik_mt4_package
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/mingw32/CMakeCache.txt)
zip=torvik-$version-mt4.zip
cp build/mingw32/"$zip" build/"$zip"
echo "build/$zip"
