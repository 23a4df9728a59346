#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan+UBSan) in build-fuzz and runs each for SECONDS
# from a copy of its seed corpus in tests/fuzz/corpus/, two at a time. Prints one line per
# target and exits non-zero when any target found a crash, leak, timeout or sanitizer report;
# the inputs that did are kept in build-fuzz/findings/TARGET/.
#   scripts/fuzz.sh SECONDS [TARGET...]     (TARGET: request_loop, route, ...; default: all)
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -lt 1 ] || ! [[ $1 =~ ^[0-9]+$ ]]; then
  echo "usage: scripts/fuzz.sh SECONDS [TARGET...]" >&2
  exit 2
fi
seconds=$1
shift
build_dir=build-fuzz
parallel=2

# The fuzzer and sanitizer runtimes are a package of their own, not pulled in by clang.
bash scripts/setup.sh clang-14 libclang-rt-14-dev
CMAKE_BUILD_PARALLEL_LEVEL=$parallel bash scripts/build.sh "$build_dir" -DQUENBY_FUZZ=ON \
  -DQUENBY_WERROR=ON -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for folder in tests/fuzz/corpus/*/; do
    targets+=("$(basename "$folder")")
  done
fi
for target in "${targets[@]}"; do
  if [ ! -x "$build_dir/tests/fuzz/quenby_${target}_fuzz" ]; then
    echo "fuzz: no target '$target' (built: $(ls "$build_dir/tests/fuzz" | sed -n 's/^quenby_\(.*\)_fuzz$/\1/p' | tr '\n' ' '))" >&2
    exit 2
  fi
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
findings_root="$build_dir/findings"

# Runs one target in its own scratch folder (so the committed seeds stay as they are) and
# prints its summary line.
run_target() {
  local target=$1 work="$scratch/$1"
  mkdir -p "$work/corpus" "$work/artifacts"
  cp tests/fuzz/corpus/"$target"/* "$work/corpus/"
  local status=0
  TMPDIR="$work" "$build_dir/tests/fuzz/quenby_${target}_fuzz" -max_total_time="$seconds" \
    -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
    "$work/corpus" >"$work/log" 2>&1 || status=$?
  local runs
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -1)
  local found
  found=$(ls "$work/artifacts")
  if [ $status -eq 0 ] && [ -z "$found" ]; then
    printf 'fuzz: %-13s %10s runs in %s s, nothing found\n' "$target" "${runs:-?}" "$seconds"
    return 0
  fi
  local keep="$findings_root/$target"
  mkdir -p "$keep"
  cp "$work/log" "$keep/log"
  [ -n "$found" ] && cp "$work"/artifacts/* "$keep/"
  printf 'fuzz: %-13s %10s runs in %s s, FOUND (exit %s): %s; log and inputs in %s\n' \
    "$target" "${runs:-?}" "$seconds" "$status" "$(echo $found)" "$keep"
  grep -m1 -E 'ERROR: |runtime error|property broken' "$work/log" | sed 's/^/  /' || true
  return 1
}

rm -rf "$findings_root"
failed=0
running=0
for target in "${targets[@]}"; do
  if [ $running -ge $parallel ]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
  run_target "$target" &
  running=$((running + 1))
done
while [ $running -gt 0 ]; do
  wait -n || failed=1
  running=$((running - 1))
done

if [ $failed -ne 0 ]; then
  echo "fuzz: findings above" >&2
  exit 1
fi
echo "fuzz: ${#targets[@]} targets, nothing found"
