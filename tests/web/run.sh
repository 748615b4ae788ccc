#!/usr/bin/env bash
# Runs the console's browser tests (headless Chromium through playwright-core, node's
# test runner) against a recording stand-in server and, when they are built, against
# the real kamora server and virtual cameras in BUILD_DIR.
# Usage: tests/web/run.sh [BUILD_DIR]   (BUILD_DIR defaults to build, relative to the current directory)
set -uo pipefail
build_arg=${1:-build}
if [[ -d $build_arg ]]; then build=$(cd "$build_arg" && pwd); else build=$(pwd)/$build_arg; fi
here=$(cd "$(dirname "$0")" && pwd)
cd "$here" || exit 1

if ! command -v node >/dev/null; then echo "browser tests: node is not installed (make deps)"; exit 1; fi
chromium=${KAMORA_CHROMIUM:-/usr/bin/chromium}
if [[ ! -x $chromium ]]; then echo "browser tests: no Chromium at $chromium (make deps)"; exit 1; fi
if [[ ! -d node_modules/playwright-core ]]; then
  echo "browser tests: npm ci in tests/web"
  PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund || exit 1
fi

# A test file that hangs fails after ten minutes instead of holding the run; the
# longest takes about a minute.
KAMORA_BUILD=$build exec node --test --test-concurrency=1 --test-timeout=600000 ./*.test.js
