#!/usr/bin/env bash
# Configures and builds Quenby with CMake and Ninja.
#   scripts/build.sh [BUILD_DIR] [extra cmake arguments...]
# The configure step is quiet when it succeeds; when it fails its whole output is shown, so
# a missing package names itself.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build}
shift || true
mkdir -p "$build_dir"
configure_log="$build_dir/configure.log"
if ! cmake -S . -B "$build_dir" -G Ninja "$@" >"$configure_log" 2>&1; then
  cat "$configure_log" >&2
  echo "build: configuring $build_dir failed (output above, kept in $configure_log)" >&2
  exit 1
fi
cmake --build "$build_dir"
