#!/usr/bin/env bash
# Renders the real window to PNG on Qt's offscreen platform (no display needed): stopped and
# running, at 100% and 200% scaling, serving the sample site.
#   scripts/screenshot.sh [--update-docs] [OUT_DIR]      (OUT_DIR defaults to build/screenshots)
# Writes OUT_DIR/window-{stopped,running}-{100,200}.png; --update-docs also copies the running
# picture at 100% to docs/window.png, the one the README shows. The running pictures need port
# 8080 free (or QUENBY_SCREENSHOT_PORT).
set -euo pipefail
cd "$(dirname "$0")/.."
update_docs=0
if [ "${1:-}" = "--update-docs" ]; then
  update_docs=1
  shift
fi
out_dir=${1:-build/screenshots}
port=${QUENBY_SCREENSHOT_PORT:-8080}

scripts/setup.sh
if [ ! -f build/build.ninja ]; then
  scripts/build.sh build >/dev/null
fi
cmake --build build --target quenby_window_screenshot quenby >/dev/null

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$out_dir"
out_dir=$(cd "$out_dir" && pwd)
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$scratch"
for scale in 100 200; do
  for state in stopped running; do
    picture="$out_dir/window-$state-$scale.png"
    QT_SCALE_FACTOR=$((scale / 100)) build/tests/quenby_window_screenshot \
      --output "$picture" --state "$state" \
      --settings "$scratch/quenby.ini" \
      --host 127.0.0.1 --port "$port" --root "$PWD/examples/site" \
      --alias "/bin=$PWD/build/modules" --log --log-file "$out_dir/quenby.log"
    echo "screenshot: $picture"
  done
done
rm -f "$out_dir/quenby.log"
if [ $update_docs -eq 1 ]; then
  mkdir -p docs
  cp "$out_dir/window-running-100.png" docs/window.png
  echo "screenshot: docs/window.png"
fi
