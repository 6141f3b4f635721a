#!/usr/bin/env bash
# Installs the npm packages of the report page's browser tests into
# tests/report/node_modules, exactly as tests/report/package-lock.json pins
# them (puppeteer-core, which drives Debian's chromium: no browser download).
# Quick when they are already there.
set -euo pipefail
cd "$(dirname "$0")/../tests/report"

stamp=node_modules/.installed-package-lock.json
if cmp -s package-lock.json "$stamp"; then
  exit 0
fi
echo "installing the browser tests' npm packages (tests/report)"
PUPPETEER_SKIP_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error
cp package-lock.json "$stamp"
