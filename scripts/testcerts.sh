#!/usr/bin/env bash
# Makes the certificates of the TLS tests in DIR with the openssl command:
#   ca.pem, ca-key.pem          a test certificate authority
#   server.pem, server-key.pem  for localhost and 127.0.0.1 (subjectAltName)
#   other.pem, other-key.pem    signed by the same authority for another name
#                               (elsewhere.invalid) only
#   client.pem, client-key.pem  a client certificate of the same authority
#   wrong-ca.pem                an unrelated authority
# EC keys (P-256) keep this fast. Files already there are made again.
set -euo pipefail
dir=${1:?usage: testcerts.sh DIR}
mkdir -p "$dir"
cd "$dir"
days=3650
key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1" 2>/dev/null; }

key ca-key.pem
openssl req -x509 -new -key ca-key.pem -sha256 -days $days -subj "/CN=rowset test CA" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
  -out ca.pem 2>/dev/null

issue() {  # name subject subjectAltName-or-empty
  local name=$1 subject=$2 san=$3 ext
  ext=$(mktemp)
  {
    echo "basicConstraints=CA:FALSE"
    [[ -n $san ]] && echo "subjectAltName=$san"
  } >"$ext"
  key "$name-key.pem"
  openssl req -new -key "$name-key.pem" -subj "$subject" -out "$name.csr" 2>/dev/null
  openssl x509 -req -in "$name.csr" -CA ca.pem -CAkey ca-key.pem -CAcreateserial -sha256 \
    -days $days -extfile "$ext" -out "$name.pem" 2>/dev/null
  rm -f "$name.csr" "$ext"
}
issue server "/CN=localhost" "DNS:localhost,IP:127.0.0.1"
issue other "/CN=elsewhere.invalid" "DNS:elsewhere.invalid"
issue client "/CN=rowset client" ""

key wrong-ca-key.pem
openssl req -x509 -new -key wrong-ca-key.pem -sha256 -days $days -subj "/CN=unrelated CA" \
  -addext "basicConstraints=critical,CA:TRUE" -out wrong-ca.pem 2>/dev/null
rm -f wrong-ca-key.pem ca.srl
chmod 644 ./*.pem
