#!/usr/bin/env bash
# Installs what is missing, builds Quenby and runs it on the sample site: the window opens where
# a display exists (press Start, then visit http://127.0.0.1:8080/); without one Quenby says so
# and serves headless at once (Ctrl-C stops it). Extra arguments go to quenby and override these.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
echo "run: building Quenby (the first build takes a few minutes)" >&2
scripts/build.sh build >&2
exec build/quenby \
  --host 127.0.0.1 --port 8080 \
  --root "$PWD/examples/site" \
  --alias "/bin=$PWD/build/modules" \
  --log --log-file "$PWD/build/quenby.log" \
  "$@"
