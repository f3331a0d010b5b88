#!/usr/bin/env bash
# Makes the certificates of a TLS test server: make_certs.sh DIR
# Writes into DIR (created if needed), all with one P-256 key (server.key):
#   ca.pem                  a test certificate authority (trust it in the client)
#   server.crt              localhost and 127.0.0.1, issued by the test CA
#   ip-127.0.0.2.crt        issued by the test CA for other.invalid only (name mismatch)
#   ip-127.0.0.3.crt        127.0.0.3, issued by the test CA, expired in 2021
#   ip-127.0.0.4.crt        127.0.0.4, issued by another CA nobody trusts
#   ip-127.0.0.5.crt        127.0.0.5, signed by itself
#   ip-127.0.0.6.crt        127.0.0.6, issued by the test CA, valid from 2099
# start_server.sh with TLS_PORT serves each ip-ADDRESS.crt on that address.
# Files are world-readable: the server's master reads them as root at start,
# its login processes as another user.
set -euo pipefail
if [ $# -ne 1 ]; then echo "usage: $0 DIR" >&2; exit 2; fi
mkdir -p "$1"
DIR=$(cd "$1" && pwd)
command -v openssl >/dev/null || { echo "Error: openssl not installed" >&2; exit 3; }
cd "$DIR"
work=$(mktemp -d "$DIR/.work.XXXXXX")
trap 'rm -rf "$work"' EXIT

openssl ecparam -name prime256v1 -genkey -noout -out server.key 2>/dev/null

# An authority: name, key and self-signed certificate.
make_ca() {
  openssl ecparam -name prime256v1 -genkey -noout -out "$work/$1.key" 2>/dev/null
  openssl req -x509 -new -key "$work/$1.key" -subj "/CN=Kalmuro $1" -days 3650 \
      -addext basicConstraints=critical,CA:true -addext keyUsage=critical,keyCertSign,cRLSign \
      -out "$work/$1.pem" 2>/dev/null
}
make_ca test-ca
make_ca other-ca
cp "$work/test-ca.pem" ca.pem

# issue CA OUT SUBJECT-CN SAN START END: a leaf for server.key with fixed dates.
issue() {
  local ca=$1 out=$2 cn=$3 san=$4 start=$5 end=$6 db="$work/db.$RANDOM$RANDOM"
  mkdir -p "$db"
  : > "$db/index.txt"
  printf '%s\n' "$(od -An -N8 -tx1 /dev/urandom | tr -d ' \n')" > "$db/serial"
  cat > "$db/ca.cnf" <<CNF
[ ca ]
default_ca = test
[ test ]
database = $db/index.txt
serial = $db/serial
new_certs_dir = $db
certificate = $work/$ca.pem
private_key = $work/$ca.key
default_md = sha256
policy = any
unique_subject = no
copy_extensions = none
x509_extensions = leaf
[ any ]
commonName = supplied
[ leaf ]
basicConstraints = critical,CA:false
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = $san
CNF
  openssl req -new -key server.key -subj "/CN=$cn" -out "$db/req.pem" 2>/dev/null
  openssl ca -batch -notext -config "$db/ca.cnf" -in "$db/req.pem" -out "$out" \
      -startdate "$start" -enddate "$end" 2>"$db/log" || { cat "$db/log" >&2; exit 1; }
}

now=$(date -u +%Y%m%d000000Z)
later=$(date -u -d '+10 years' +%Y%m%d000000Z)
issue test-ca server.crt localhost "DNS:localhost,IP:127.0.0.1" "$now" "$later"
issue test-ca ip-127.0.0.2.crt other.invalid "DNS:other.invalid" "$now" "$later"
issue test-ca ip-127.0.0.3.crt 127.0.0.3 "IP:127.0.0.3" 20200101000000Z 20210101000000Z
issue other-ca ip-127.0.0.4.crt 127.0.0.4 "IP:127.0.0.4" "$now" "$later"
issue test-ca ip-127.0.0.6.crt 127.0.0.6 "IP:127.0.0.6" 20990101000000Z 21000101000000Z
openssl req -x509 -new -key server.key -subj "/CN=127.0.0.5" -days 3650 \
    -addext "subjectAltName=IP:127.0.0.5" -out ip-127.0.0.5.crt 2>/dev/null
chmod 0644 ./*.crt ca.pem server.key
