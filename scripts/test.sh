#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite.
#   scripts/test.sh [BUILD_DIR] [extra cmake arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build}
shift || true
scripts/setup.sh
scripts/build.sh "$build_dir" "$@"
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)"
