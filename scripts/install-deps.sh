#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (root, apt).
# Quick when everything is already there.
set -euo pipefail

packages=(
  cmake ninja-build g++ googletest libgtest-dev libbenchmark-dev
  libcli11-dev libfmt-dev nlohmann-json3-dev
  # the Windows DLLs (win32 thread model), their load test in wine64, and the
  # 32-bit unit tests under qemu
  g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine64 g++-multilib qemu-user-static
  # the sanitizer build and the fuzzer (libFuzzer and the sanitizer runtimes)
  clang libclang-rt-14-dev
  # the report page's browser tests: headless Chromium, a font for its
  # screenshots, and the Python that writes their test data
  chromium fonts-dejavu-core
  # the MetaTrader 4 package: written and checked with Debian's Python,
  # whose pefile reads the DLLs' version resources back
  python3 python3-pefile
  # the tester's replay check: pytest, and numpy for the bar records
  python3-pytest python3-numpy
  # the Python package: its bindings, its DataFrames, its cluster runs, and
  # pip and venv to install it from the checkout
  python3-dev python3-pybind11 pybind11-dev python3-pandas python3-distributed
  python3-setuptools python3-pip python3-venv
)
# Node.js and npm drive the browser tests; a machine that has them already
# (from another source than Debian) keeps its own.
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  packages+=(nodejs npm)
fi

missing=()
for p in "${packages[@]}" "$@"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The browser tests' npm packages (puppeteer-core), pinned by their lock file.
"$(dirname "$0")/install-node-deps.sh"
