#!/usr/bin/env bash
# HTTPS load figures on 127.0.0.1: Quenby over TLS beside Quenby over plain HTTP and nginx
# over TLS, serving the same files with the same certificate in the same run.
#   bash bench/tls_bench.sh [BUILD_DIR]        (default: build)
# Environment: SECONDS_EACH (default 10) per measurement, CONNECTIONS (default 32) for wrk,
# HANDSHAKE_CLIENTS (default 2) parallel `openssl s_time` clients, DOWNLOADS (default 5).
#
# Installs what it needs when missing (nginx-light, wrk, curl, openssl; through apt-get as
# root or with sudo) and builds quenby when the build has none. Every server listens on
# 127.0.0.1 only and is stopped when the script ends. Figures on a shared machine move with
# its load, which is printed at the start and the end.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${1:-build}
seconds=${SECONDS_EACH:-10}
connections=${CONNECTIONS:-32}
handshake_clients=${HANDSHAKE_CLIENTS:-2}
downloads=${DOWNLOADS:-5}
small_size=1024
big_mib=64

install_missing() {
  local missing=()
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local as_root=()
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "tls_bench: need root or sudo for ${missing[*]}" >&2; exit 1; }
    as_root=(sudo)
  fi
  echo "tls_bench: installing ${missing[*]}" >&2
  if ! DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q \
    --no-install-recommends "${missing[@]}" >"/tmp/tls_bench_apt.$$.log" 2>&1; then
    cat "/tmp/tls_bench_apt.$$.log" >&2
    exit 1
  fi
  rm -f "/tmp/tls_bench_apt.$$.log"
}

install_missing nginx-light wrk curl openssl
[ -x "$build_dir/quenby" ] || bash scripts/build.sh "$build_dir" -DQUENBY_BUILD_TESTS=OFF \
  -DQUENBY_BUILD_BENCH=OFF >&2

work=$(mktemp -d)
chmod 755 "$work"  # nginx's workers run as another user and read the site
pids=()
cleanup() {
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

# The same certificate for both servers: P-256, valid for localhost and 127.0.0.1.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 \
  -subj /CN=localhost -addext "subjectAltName=DNS:localhost,IP:127.0.0.1" \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
mkdir -p "$work/site"
head -c "$small_size" /dev/urandom | base64 -w 76 | head -c "$small_size" >"$work/site/small.html"
head -c "$((big_mib << 20))" /dev/urandom >"$work/site/big.bin"
chmod -R a+rX "$work/site"

# Starts quenby with extra options; prints its port once it listens.
start_quenby() {
  local name=$1
  shift
  "$build_dir/quenby" --headless --settings "$work/$name.ini" --host 127.0.0.1 --port 0 \
    --root "$work/site" --no-log "$@" >"$work/$name.out" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do
    if grep -q '^Listening on' "$work/$name.out"; then
      sed -n 's|^Listening on https\?://127\.0\.0\.1:\([0-9]*\)/$|\1|p' "$work/$name.out"
      return 0
    fi
    sleep 0.1
  done
  echo "tls_bench: $name did not start:" >&2
  cat "$work/$name.out" >&2
  exit 1
}

free_port() {
  local port
  for port in $(seq 18443 18543); do
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "$port"
      return 0
    fi
  done
  echo "tls_bench: no free port for nginx" >&2
  exit 1
}

start_nginx() {
  local port=$1
  mkdir -p "$work/nginx"
  cat >"$work/nginx/nginx.conf" <<EOF
worker_processes auto;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  client_body_temp_path $work/nginx;
  proxy_temp_path $work/nginx;
  fastcgi_temp_path $work/nginx;
  uwsgi_temp_path $work/nginx;
  scgi_temp_path $work/nginx;
  types { text/html html; application/octet-stream bin; }
  server {
    listen 127.0.0.1:$port ssl;
    ssl_certificate $work/cert.pem;
    ssl_certificate_key $work/key.pem;
    ssl_protocols TLSv1.2 TLSv1.3;
    root $work/site;
  }
}
EOF
  nginx -c "$work/nginx/nginx.conf" -g 'daemon off;' 2>>"$work/nginx/error.log" &
  pids+=($!)
  for _ in $(seq 100); do
    curl -skf -o /dev/null "https://127.0.0.1:$port/small.html" && return 0
    sleep 0.1
  done
  echo "tls_bench: nginx did not start:" >&2
  cat "$work/nginx/error.log" >&2
  exit 1
}

# Full handshakes per second: parallel s_time clients, each a new session per connection.
handshakes() {
  local port=$1 total=0 elapsed=0 i count secs clients=()
  for i in $(seq "$handshake_clients"); do
    openssl s_time -connect "127.0.0.1:$port" -new -time "$seconds" >"$work/s_time.$i" 2>&1 &
    clients+=($!)
  done
  for i in "${clients[@]}"; do
    wait "$i" || true
  done
  for i in $(seq "$handshake_clients"); do
    read -r count secs < <(sed -n 's/^\([0-9]*\) connections in \([0-9.]*\) real seconds.*/\1 \2/p' \
      "$work/s_time.$i" | tail -1) || true
    total=$((total + ${count:-0}))
    elapsed=$(awk -v a="$elapsed" -v b="${secs:-0}" 'BEGIN { print (b > a ? b : a) }')
  done
  awk -v n="$total" -v s="$elapsed" 'BEGIN { printf "%.0f", (s > 0 ? n / s : 0) }'
}

# Requests per second with a new connection for every request; also the error count. wrk
# keeps its TLS session across reconnections, so these handshakes are resumptions.
requests() {
  local url=$1 out
  out=$(wrk -t2 -c"$connections" -d"${seconds}s" -H 'Connection: close' "$url" 2>&1)
  local rate errors
  rate=$(sed -n 's/^Requests\/sec: *\([0-9.]*\)/\1/p' <<<"$out")
  errors=$(sed -n 's/.*Socket errors: \(.*\)/\1/p' <<<"$out")
  printf '%.0f%s' "${rate:-0}" "${errors:+ (errors: $errors)}"
}

# Median MB/s (10^6 bytes) of several downloads of the big file.
download() {
  local url=$1 speeds=() i
  for i in $(seq "$downloads"); do
    speeds+=("$(curl -sk -o /dev/null -w '%{speed_download}' "$url")")
  done
  printf '%s\n' "${speeds[@]}" | sort -n |
    awk '{ v[NR] = $1 } END { printf "%.0f", v[int((NR + 1) / 2)] / 1e6 }'
}

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
tls_port=$(start_quenby tls --tls-cert "$work/cert.pem" --tls-key "$work/key.pem")
plain_port=$(start_quenby plain)
nginx_port=$(free_port)
start_nginx "$nginx_port"
curl -sk -o /dev/null "https://127.0.0.1:$tls_port/small.html"  # warm-up

echo "file: ${small_size} bytes for handshakes and requests, ${big_mib} MiB for downloads;" \
  "${seconds} s each, wrk -c${connections} with Connection: close, ${handshake_clients} s_time clients"
printf '%-34s %12s %12s %12s\n' "" "quenby TLS" "quenby HTTP" "nginx TLS"
printf '%-34s %12s %12s %12s\n' "handshakes/s (openssl s_time -new)" \
  "$(handshakes "$tls_port")" "-" "$(handshakes "$nginx_port")"
printf '%-34s %12s %12s %12s\n' "requests/s, new connection each" \
  "$(requests "https://127.0.0.1:$tls_port/small.html")" \
  "$(requests "http://127.0.0.1:$plain_port/small.html")" \
  "$(requests "https://127.0.0.1:$nginx_port/small.html")"
printf '%-34s %12s %12s %12s\n' "${big_mib} MiB download, MB/s (median)" \
  "$(download "https://127.0.0.1:$tls_port/big.bin")" \
  "$(download "http://127.0.0.1:$plain_port/big.bin")" \
  "$(download "https://127.0.0.1:$nginx_port/big.bin")"
echo "(handshakes: full ones; requests: wrk resumes the TLS session on each new connection)"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
