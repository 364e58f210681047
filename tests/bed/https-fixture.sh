#!/usr/bin/env bash
# Starts or stops the download tests' HTTPS server (https_server.py) for one ctest run.
#   https-fixture.sh start|stop BUILD_DIR
# State in BUILD/https: server.txt (ports), server.pid, requests.log, root/ (files served).
set -euo pipefail
action=${1:?usage: https-fixture.sh start|stop BUILD_DIR}
build=${2:?usage: https-fixture.sh start|stop BUILD_DIR}
here=$(cd "$(dirname "$0")" && pwd)
dir=$build/https

stop() {
  local pid
  pid=$(cat "$dir/server.pid" 2>/dev/null) || return 0
  # Only the server this script started: the pid must still be that program.
  if tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q "https_server.py --dir $dir "; then
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -f "$dir/server.pid" "$dir/server.txt"
}

case $action in
  start)
    stop
    for f in server.pem server.key; do
      [ -f "$build/tls/$f" ] || { echo "missing $build/tls/$f: run ./qel test (it prepares the prefixes)" >&2; exit 1; }
    done
    rm -rf "$dir/root" "$dir/requests.log"
    mkdir -p "$dir/root"
    python3 "$here/https_server.py" --dir "$dir" --cert "$build/tls/server.pem" --key "$build/tls/server.key" \
      </dev/null >"$dir/server.out" 2>&1 &
    echo $! >"$dir/server.pid"
    for _ in $(seq 100); do
      if [ -s "$dir/server.txt" ]; then
        echo "https test server on ports $(cat "$dir/server.txt") (pid $(cat "$dir/server.pid"))"
        exit 0
      fi
      kill -0 "$(cat "$dir/server.pid")" 2>/dev/null || break
      sleep 0.1
    done
    cat "$dir/server.out" >&2
    stop
    echo "https test server did not start" >&2
    exit 1
    ;;
  stop)
    stop
    ;;
  *)
    echo "usage: https-fixture.sh start|stop BUILD_DIR" >&2
    exit 2
    ;;
esac
