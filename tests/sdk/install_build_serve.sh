#!/usr/bin/env bash
# Installs a Quenby build tree to a temporary prefix, moves the installed tree elsewhere (the
# SDK must be relocatable), builds modules against it three ways (the template project
# through the CMake package, the pkg-config line, a C++ module with an internal symbol), then
# serves them with the installed quenby and fetches each over HTTP.
#   install_build_serve.sh BUILD_DIR SOURCE_DIR C_COMPILER CXX_COMPILER
# Exits 77 (skipped) when pkg-config is missing.
set -euo pipefail

build_dir=$1
source_dir=$2
c_compiler=$3
cxx_compiler=$4
readonly skip_code=77 start_timeout=60 stop_timeout=60 fetch_timeout=20

if ! command -v pkg-config >/dev/null; then
  echo "pkg-config is not installed: skipping"
  exit $skip_code
fi

tmp=$(mktemp -d)
server_pid=""
cleanup() {
  if [[ -n $server_pid ]] && kill -0 "$server_pid" 2>/dev/null; then
    kill -KILL "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Runs a command with its output kept, shown only when it fails.
quietly() {
  local log=$tmp/step.log
  if ! "$@" >"$log" 2>&1; then
    cat "$log" >&2
    fail "$*"
  fi
}

cmake_project() {
  local source=$1 binary=$2
  quietly cmake -S "$source" -B "$binary" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_C_COMPILER="$c_compiler" -DCMAKE_CXX_COMPILER="$cxx_compiler"
  grep -qx "QuenbyISAPI_DIR:PATH=$prefix/share/cmake/QuenbyISAPI" "$binary/CMakeCache.txt" ||
    fail "$source found a QuenbyISAPI package other than the one installed in $prefix"
  quietly cmake --build "$binary"
}

# The dynamic symbols a module defines.
exports() {
  nm -D --defined-only --format=posix "$1" | cut -d' ' -f1
}

quietly cmake --install "$build_dir" --prefix "$tmp/installed"
prefix=$tmp/moved
mv "$tmp/installed" "$prefix"
served=$tmp/served
mkdir -p "$served" "$tmp/site"

# The template, as a module author copies it.
cmake_project "$source_dir/examples/module-template" "$tmp/template"
[[ -f $tmp/template/mymodule.dll ]] || fail "the template did not build mymodule.dll"
cp "$tmp/template/mymodule.dll" "$served/"

# The pkg-config line, with the strictest warnings a module author may use.
cflags=$(PKG_CONFIG_PATH=$prefix/share/pkgconfig pkg-config --cflags quenby-isapi)
# shellcheck disable=SC2086 # the flags are words
quietly "$c_compiler" $cflags -std=c99 -Wall -Wextra -Wpedantic -Werror -shared -fPIC \
  "$source_dir/examples/module-template/mymodule.c" -o "$served/pkgconfig.dll"

# A C++ module through the package: the entry points exported, everything else hidden.
mkdir -p "$tmp/probe"
cat >"$tmp/probe/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(probe LANGUAGES CXX)
find_package(QuenbyISAPI 0.1 REQUIRED)
quenby_add_module(probe probe.cpp)
CMAKE
cat >"$tmp/probe/probe.cpp" <<'CXX'
#include <quenby/isapi.h>
#include <cstring>

const char* probe_internal_text() { return "probe in C++"; }

BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* pVer) {
  pVer->dwExtensionVersion = HSE_VERSION;
  pVer->lpszExtensionDesc[0] = '\0';
  return TRUE;
}

DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* pECB) {
  HSE_SEND_HEADER_EX_INFO header{"200 OK", "Content-Type: text/plain\r\n\r\n", 6, 28, FALSE};
  DWORD count = static_cast<DWORD>(std::strlen(probe_internal_text()));
  const bool sent =
      pECB->ServerSupportFunction(pECB->ConnID, HSE_REQ_SEND_RESPONSE_HEADER_EX, &header,
                                  nullptr, nullptr) &&
      pECB->WriteClient(pECB->ConnID, const_cast<char*>(probe_internal_text()), &count,
                        HSE_IO_SYNC);
  return sent ? HSE_STATUS_SUCCESS : HSE_STATUS_ERROR;
}
CXX
cmake_project "$tmp/probe" "$tmp/probe/build"
probe_exports=$(exports "$tmp/probe/build/probe.dll")
for symbol in GetExtensionVersion HttpExtensionProc; do
  grep -qx "$symbol" <<<"$probe_exports" || fail "probe.dll does not export $symbol"
done
if grep -q probe_internal_text <<<"$probe_exports"; then
  fail "probe.dll exports its internal function: symbols are not hidden by default"
fi
cp "$tmp/probe/build/probe.dll" "$served/"

"$prefix/bin/quenby" --headless --port 0 --host 127.0.0.1 --no-log --root "$tmp/site" \
  --alias "/bin=$served" --settings "$tmp/quenby.ini" >"$tmp/stdout" 2>"$tmp/stderr" &
server_pid=$!

base_url=""
for ((tick = 0; tick < start_timeout * 10; tick++)); do
  base_url=$(sed -n 's|^Listening on \(http://[^ ]*/\)$|\1|p' "$tmp/stdout")
  [[ -n $base_url ]] && break
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.1
done
[[ -n $base_url ]] || fail "quenby did not report its address: $(cat "$tmp/stdout" "$tmp/stderr")"

# Fetches URL and checks the status is 200 and the body holds each given line.
expect_body() {
  local url=$1 body status
  shift
  status=$(curl -sS --max-time $fetch_timeout -o "$tmp/body" -w '%{http_code}' "$url") ||
    fail "fetching $url"
  body=$(cat "$tmp/body")
  [[ $status == 200 ]] || fail "$url answered $status: $body"
  local line
  for line in "$@"; do
    grep -qxF "$line" <<<"$body" || fail "$url answered without '$line': $body"
  done
}

expect_body "${base_url}bin/mymodule.dll?from=cmake" "Hello from mymodule.dll" "Method: GET" \
  "Query: from=cmake"
expect_body "${base_url}bin/pkgconfig.dll?from=pkg-config" "Hello from mymodule.dll" \
  "Query: from=pkg-config"
expect_body "${base_url}bin/probe.dll" "probe in C++"

kill -TERM "$server_pid"
for ((tick = 0; tick < stop_timeout * 10; tick++)); do
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$server_pid" 2>/dev/null && fail "quenby did not stop within ${stop_timeout} s of SIGTERM"
status=0
wait "$server_pid" || status=$?
server_pid=""
[[ $status == 0 ]] || fail "quenby exited with $status after SIGTERM: $(cat "$tmp/stderr")"
echo "modules built against the installed SDK were served"
