#!/usr/bin/env bash
# Makes a certificate authority and server certificates for loopback HTTPS
# (tests, the demo, the benchmark), with openssl, into DIR:
#
#   tls-certs.sh DIR [AUTHORITY NAME]
#
#   ca.pem             the authority (trust it with qmtrust.exe, in a Wine
#                      prefix of its own, never in the host's store)
#   server.key         the one private key of every server certificate
#   localhost.pem      for localhost, issued by the authority
#   otherhost.pem      for otherhost.invalid, issued by the authority
#   expired.pem        for localhost, issued by the authority, valid in 2020 only
#   selfsigned.pem     for localhost, signed by itself
#   untrusted.pem      for localhost, issued by another authority (never trusted)
set -euo pipefail
dir=${1:?usage: tls-certs.sh DIR [AUTHORITY NAME]}
name=${2:-QMLoader Test Authority}
mkdir -p "$dir"
cd "$dir"

cat >server.ext <<'EXT'
[server]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:${ENV::QM_CERT_HOST}
EXT

authority() { # KEY PEM NAME
  openssl genrsa -out "$1" 2048 2>/dev/null
  openssl req -x509 -new -key "$1" -subj "/CN=$3" -days 30 -sha256 -out "$2" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
}
issue() { # HOST OUT CA_PEM CA_KEY
  QM_CERT_HOST=$1 openssl req -new -key server.key -subj "/CN=$1" -out "$2.csr"
  QM_CERT_HOST=$1 openssl x509 -req -in "$2.csr" -CA "$3" -CAkey "$4" -set_serial "0x$(openssl rand -hex 8)" \
    -days 30 -sha256 -extfile server.ext -extensions server -out "$2" 2>/dev/null
}

authority ca.key ca.pem "$name"
authority other-ca.key other-ca.pem "QMLoader Untrusted Authority"
openssl genrsa -out server.key 2048 2>/dev/null
issue localhost localhost.pem ca.pem ca.key
issue otherhost.invalid otherhost.pem ca.pem ca.key
issue localhost untrusted.pem other-ca.pem other-ca.key
openssl req -x509 -new -key server.key -subj /CN=localhost -days 30 -sha256 -out selfsigned.pem \
  -addext "subjectAltName=DNS:localhost" -addext "extendedKeyUsage=serverAuth"

# A validity period in the past needs openssl's "ca" command and its files.
mkdir -p ca-db
: >ca-db/index.txt
cat >ca-db/ca.cnf <<CNF
[ca]
default_ca = test
[test]
database = $PWD/ca-db/index.txt
new_certs_dir = $PWD/ca-db
serial = $PWD/ca-db/serial
default_md = sha256
policy = any
unique_subject = no
[any]
commonName = supplied
CNF
openssl rand -hex 8 >ca-db/serial
QM_CERT_HOST=localhost openssl ca -batch -config ca-db/ca.cnf -cert ca.pem -keyfile ca.key -in localhost.pem.csr \
  -startdate 20200101000000Z -enddate 20200201000000Z -extfile server.ext -extensions server -notext \
  -out expired.pem 2>/dev/null
