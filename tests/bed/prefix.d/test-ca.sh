#!/usr/bin/env bash
# Prefix hook: makes the test bed's CA and the HTTPS server's certificate (for localhost and
# 127.0.0.1) in BUILD/tls once, and trusts the CA in the prefix being made ($WINEPREFIX).
set -euo pipefail
. "$(dirname "$0")/../../../cmake/wine-env.sh"
build=${1:?usage: test-ca.sh BUILD_DIR}
tls=$build/tls

if [ ! -f "$tls/ca.der" ] || [ ! -f "$tls/server.pem" ] || [ ! -f "$tls/server.key" ]; then
  echo "qel: prefix: making the test CA in $tls"
  work=$(mktemp -d "$build/tls.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 -subj "/CN=QEL Test Bed CA" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -keyout "$work/ca.key" -out "$work/ca.pem" 2>/dev/null
  openssl req -newkey rsa:2048 -nodes -sha256 -subj "/CN=localhost" \
    -keyout "$work/server.key" -out "$work/server.csr" 2>/dev/null
  printf '%s\n' "subjectAltName=DNS:localhost,IP:127.0.0.1,DNS:127.0.0.1" "basicConstraints=CA:FALSE" \
    "keyUsage=critical,digitalSignature,keyEncipherment" "extendedKeyUsage=serverAuth" >"$work/server.ext"
  openssl x509 -req -sha256 -days 825 -in "$work/server.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" \
    -CAcreateserial -extfile "$work/server.ext" -out "$work/server.pem" 2>/dev/null
  openssl x509 -in "$work/ca.pem" -outform der -out "$work/ca.der"
  rm -rf "$tls"
  mv "$work" "$tls"
  trap - EXIT
fi

addroot=$build/bin/addroot.exe
[ -f "$addroot" ] || { echo "qel: prefix: $addroot is missing (build first)" >&2; exit 1; }
"$QEL_WINE" "$addroot" "$("$QEL_WINE" winepath.exe -w "$tls/ca.der")" </dev/null
