#!/usr/bin/env bash
# Makes a throw-away certificate authority and a server certificate for 127.0.0.1 and localhost in $1:
# ca.pem (what the tests trust), server.pem and server-key.pem (what the loopback server presents).
set -euo pipefail
folder=$1
cd "$folder"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj "/CN=Update Test CA" \
  -keyout ca-key.pem -out ca.pem -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign \
  2>/dev/null
openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj "/CN=localhost" \
  -keyout server-key.pem -out server.csr 2>/dev/null
printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' \
  > server.ext
openssl x509 -req -in server.csr -CA ca.pem -CAkey ca-key.pem -CAcreateserial -days 2 -extfile server.ext \
  -out server.pem 2>/dev/null
