#!/usr/bin/env bash
# Installs the Debian packages Quenby needs to build, test and benchmark, when they are
# missing. Works as root and through sudo.
#   scripts/setup.sh [extra packages...]   (CI passes the second compiler this way)
set -euo pipefail

# qt6-base-dev brings Qt Widgets, Qt Test and the offscreen platform the window's tests use;
# fonts-dejavu-core gives the window a font where no desktop provides one (CI, screenshots).
packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev fonts-dejavu-core libssl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  curl wrk
  "$@"
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "setup: missing packages (${missing[*]}) and neither root nor sudo" >&2
  exit 1
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
