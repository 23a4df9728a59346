#!/usr/bin/env bash
# Quenby against nginx and lighttpd on 127.0.0.1, one server at a time in the same run, all
# serving one generated document root (small.htm of about 100 bytes, page4k.htm, big.bin of
# 64 MiB; Quenby also runs hello.dll behind /bin). Only the ratios within one run are worth
# comparing: absolute figures drift between runs on a shared machine.
#   bench/http_bench.sh [--duration SECONDS] [--build DIR]
# Quenby runs headless with logging off and keep-alive off, as the console runs it; the
# keep-alive row runs it again with --keep-alive against the other two (which keep connections
# by default), and compares it with lighttpd. Installs wrk, nginx-light, lighttpd and curl
# from Debian when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."

duration=10
build=build
while [ $# -gt 0 ]; do
  case "$1" in
    --duration) duration="$2"; shift 2 ;;
    --build) build="$2"; shift 2 ;;
    *) echo "usage: bench/http_bench.sh [--duration SECONDS] [--build DIR]" >&2; exit 2 ;;
  esac
done
build="$(cd "$build" && pwd)"
close_load="$build/bench/quenby_close_load"
if [ ! -x "$build/quenby" ] || [ ! -f "$build/modules/hello.dll" ] || [ ! -x "$close_load" ]; then
  echo "http_bench: build Quenby, its modules and its benchmarks first ($build)" >&2
  exit 1
fi

missing=()
for package in wrk nginx-light lighttpd curl; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  as_root=()
  if [ "$(id -u)" -ne 0 ]; then as_root=(sudo); fi
  echo "http_bench: installing ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  "${as_root[@]}" apt-get update -q >&2
  "${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" >&2
fi

# 1000 held connections need more descriptors than the usual soft limit of 1024.
ulimit -n 8192 2>/dev/null || ulimit -n "$(ulimit -Hn)"

work="$(mktemp -d /tmp/quenby-http-bench.XXXXXX)"
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
# nginx's workers drop root for nobody: they must be able to read the tree.
chmod 755 "$work"
root="$work/root"
mkdir -p "$root" "$work/nginx" "$work/lighttpd"
printf '<html><head><title>Small</title></head><body><p>A page of about a hundred bytes.</p></body></html>\n' \
  >"$root/small.htm"
{
  printf '<html><head><title>Four KiB</title></head><body>\n'
  for _ in $(seq 1 63); do printf '<p>%s</p>\n' "$(printf 'x%.0s' $(seq 1 55))"; done
} | head -c 4096 >"$root/page4k.htm"
head -c $((64 << 20)) /dev/urandom >"$root/big.bin"
chmod -R a+rX "$root"

port="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
client="$PWD/bench/http_bench_client.py"

cat >"$work/nginx/nginx.conf" <<EOF
daemon off;
worker_processes auto;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 4096; }
http {
  access_log off;
  sendfile on;
  default_type application/octet-stream;
  types { text/html htm html; }
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  server {
    listen 127.0.0.1:$port;
    root $root;
  }
}
EOF

cat >"$work/lighttpd/lighttpd.conf" <<EOF
server.document-root = "$root"
server.bind = "127.0.0.1"
server.port = $port
server.pid-file = "$work/lighttpd/lighttpd.pid"
server.errorlog = "$work/lighttpd/error.log"
server.max-fds = 8192
server.max-connections = 4096
mimetype.assign = (".htm" => "text/html", "" => "application/octet-stream")
EOF

start_server() {  # server [extra Quenby options]
  case "$1" in
    quenby)
      "$build/quenby" --headless --settings "$work/quenby.ini" --host 127.0.0.1 --port "$port" \
        --root "$root" --no-log --alias "/bin=$build/modules" "${@:2}" >"$work/quenby.out" 2>&1 &
      ;;
    nginx) nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" -e "$work/nginx/error.log" & ;;
    lighttpd) lighttpd -D -f "$work/lighttpd/lighttpd.conf" & ;;
  esac
  server_pid=$!
  for _ in $(seq 1 100); do
    if curl -sf -o /dev/null "http://127.0.0.1:$port/small.htm"; then return 0; fi
    sleep 0.1
  done
  echo "http_bench: $1 did not start" >&2
  exit 1
}

# SIGTERM: an immediate stop for all three (lighttpd takes SIGINT as a graceful stop that
# waits for its open connections).
stop_server() {
  kill -TERM "$server_pid" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
  server_pid=""
}

# Resident memory of the server process and its children (nginx's workers), in KiB.
rss_kib() {
  local pids=("$server_pid") total=0 pid
  pids+=($(cat /proc/"$server_pid"/task/*/children 2>/dev/null))
  for pid in "${pids[@]}"; do
    total=$((total + $(awk '/^VmRSS:/ { print $2 }' /proc/"$pid"/status 2>/dev/null || echo 0)))
  done
  echo "$total"
}

# wrk with a new connection per request: "REQUESTS_PER_SECOND P99_MS".
wrk_close() {
  wrk -t2 -c50 -d"${duration}s" -H 'Connection: close' --latency "http://127.0.0.1:$port$1" |
    awk '/^Requests\/sec:/ { rps = $2 }
         $1 == "99%" { v = $2; unit = v; sub(/[0-9.]+/, "", unit); sub(/[a-z]+$/, "", v)
                       p99 = (unit == "us") ? v / 1000 : (unit == "s") ? v * 1000 : v }
         END { printf "%.0f %.2f\n", rps, p99 }'
}

# A new connection per request, each reply read until the server closes: "REQUESTS_PER_SECOND".
# hello.dll's reply announces no length, and wrk reconnects twice after such a reply (it counts
# each as a read error), which doubles the connections the server accepts. This client opens
# one per reply, so the module page and the static page are compared on equal terms.
read_to_close() {
  "$close_load" "$port" "$1" "$duration" 50 2 | awk '{ print $1 }'
}

# wrk on kept connections: "REQUESTS_PER_SECOND".
wrk_keep() {
  wrk -t2 -c50 -d"${duration}s" "http://127.0.0.1:$port$1" |
    awk '/^Requests\/sec:/ { printf "%.0f\n", $2 }'
}

listen_overflows() {
  if command -v nstat >/dev/null; then
    nstat -az TcpExtListenOverflows | awk '$1 == "TcpExtListenOverflows" { print $2 }'
  else
    echo 0
  fi
}

declare -A figure
row() {  # server, figure name, value
  figure["$1,$2"]="$3"
  printf '%-9s %-22s %s\n' "$1" "$2" "$3"
}

for server in nginx lighttpd quenby; do
  start_server "$server"
  before="$(listen_overflows)"
  read -r rps p99 < <(wrk_close /small.htm)
  row "$server" small_req_per_s "$rps"
  row "$server" small_p99_ms "$p99"
  row "$server" small_listen_overflows "$(($(listen_overflows) - before))"
  if [ "$server" = quenby ]; then
    row "$server" hello_req_per_s "$(read_to_close /bin/hello.dll)"
    row "$server" small_read_to_close_req_per_s "$(read_to_close /small.htm)"
  fi
  row "$server" big_file_mb_per_s "$(python3 "$client" download "$port" /big.bin "$duration" 4)"
  coproc HOLD { python3 "$client" hold "$port" 1000; }
  read -r _ held <&"${HOLD[0]}"
  sleep 2  # lets the server take in the last heads before its memory is read
  row "$server" rss_1000_held_mib "$(awk -v k="$(rss_kib)" 'BEGIN { printf "%.1f", k / 1024 }')"
  row "$server" held_connections "$held"
  started_ns="$(date +%s%N)"
  stop_server  # with the 1000 connections still open
  row "$server" stop_1000_held_ms "$((($(date +%s%N) - started_ns) / 1000000))"
  hold_in="${HOLD[1]}"
  exec {hold_in}>&-
  wait "$HOLD_PID" 2>/dev/null || true
done

for server in nginx lighttpd quenby; do
  if [ "$server" = quenby ]; then start_server quenby --keep-alive; else start_server "$server"; fi
  row "$server" small_keepalive_req_per_s "$(wrk_keep /small.htm)"
  stop_server
done

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }
echo
printf '%-32s %10s %10s %10s %14s\n' figure nginx lighttpd quenby quenby/nginx
for name in small_req_per_s small_p99_ms big_file_mb_per_s rss_1000_held_mib stop_1000_held_ms; do
  printf '%-32s %10s %10s %10s %14s\n' "$name" "${figure[nginx,$name]}" \
    "${figure[lighttpd,$name]}" "${figure[quenby,$name]}" \
    "$(ratio "${figure[quenby,$name]}" "${figure[nginx,$name]}")"
done
printf '%-32s %10s %10s %10s %14s\n' "hello_req_per_s (vs own static)" - - \
  "${figure[quenby,hello_req_per_s]}" \
  "$(ratio "${figure[quenby,hello_req_per_s]}" "${figure[quenby,small_read_to_close_req_per_s]}")"
printf '%-32s %10s %10s %10s %14s\n' small_keepalive_req_per_s "${figure[nginx,small_keepalive_req_per_s]}" \
  "${figure[lighttpd,small_keepalive_req_per_s]}" "${figure[quenby,small_keepalive_req_per_s]}" \
  "$(ratio "${figure[quenby,small_keepalive_req_per_s]}" "${figure[nginx,small_keepalive_req_per_s]}")"
printf '%-32s %10s %10s %10s %14s\n' "keep-alive quenby/lighttpd" - - - \
  "$(ratio "${figure[quenby,small_keepalive_req_per_s]}" "${figure[lighttpd,small_keepalive_req_per_s]}")"
