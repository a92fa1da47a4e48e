#!/bin/sh
# Makes the certificates the TLS tests need, in folder $1: a test CA and, signed by it,
# certificates for localhost, for other names and an expired one; a self-signed one; and
# one from a second CA that nobody trusts. EC P-256 keys, so that this takes a moment.
set -eu
cd "$1"
key() { openssl ecparam -name prime256v1 -genkey -noout -out "$1.key" 2>/dev/null; }
ca() {
  key "$1"
  openssl req -x509 -new -key "$1.key" -subj "/CN=$1" -days 3650 -out "$1.crt" 2>/dev/null
}
# leaf NAME CN CA [extra openssl ca arguments]
leaf() {
  name=$1 cn=$2 signer=$3; shift 3
  key "$name"
  openssl req -new -key "$name.key" -subj "/CN=$cn" -out "$name.csr" 2>/dev/null
  printf 'subjectAltName=DNS:%s\n' "$cn" > "$name.ext"
  mkdir -p "db-$signer" && touch "db-$signer/index.txt"
  [ -f "db-$signer/serial" ] || echo 1000 > "db-$signer/serial"
  cat > "$signer.cnf" <<CNF
[ca]
default_ca = this
[this]
dir = db-$signer
database = db-$signer/index.txt
serial = db-$signer/serial
new_certs_dir = db-$signer
default_md = sha256
policy = anything
unique_subject = no
[anything]
commonName = supplied
CNF
  openssl ca -batch -config "$signer.cnf" -cert "$signer.crt" -keyfile "$signer.key" -in "$name.csr" \
    -extfile "$name.ext" -out "$name.crt" "$@" >/dev/null 2>&1
}
ca ca
ca untrusted-ca
leaf localhost localhost ca -days 365
leaf other other.test ca -days 365
leaf a a.test ca -days 365
leaf b b.test ca -days 365
leaf expired localhost ca -startdate 20200101000000Z -enddate 20200102000000Z
leaf untrusted localhost untrusted-ca -days 365
key self
openssl req -x509 -new -key self.key -subj "/CN=localhost" -addext "subjectAltName=DNS:localhost" \
  -days 365 -out self.crt 2>/dev/null
