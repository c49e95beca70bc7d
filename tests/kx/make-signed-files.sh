#!/usr/bin/env bash
# Signs copies of a small program with test certificates made here, for the
# trust verifier tests:
#   make-signed-files.sh UNSIGNED.exe OUTDIR
# OUTDIR gets root.der (the test root the tests add to the machine's ROOT
# store) and unsigned.exe, maker.exe (O=Quorvane under the test root),
# othermaker.exe (O=Elsewhere under the test root), stranger.exe (O=Quorvane
# under a root nobody trusts), whql.exe (O=Quorvane with the hardware-quality
# usage) and tampered.exe (maker.exe with one byte changed).
set -euo pipefail
unsigned=$1 out=$2
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/x509.cnf" <<'CNF'
[req]
distinguished_name=dn
[dn]
[root]
basicConstraints=critical,CA:TRUE
keyUsage=critical,keyCertSign,cRLSign
subjectKeyIdentifier=hash
[signer]
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=codeSigning
authorityKeyIdentifier=keyid
[whql]
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=codeSigning,1.3.6.1.4.1.311.10.3.5
authorityKeyIdentifier=keyid
CNF
root() { # name subject
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/$1.key" -out "$work/$1.crt" -days 3650 \
        -subj "$2" -config "$work/x509.cnf" -extensions root 2>/dev/null
}
signer() { # name subject root extensions
    openssl req -newkey rsa:2048 -nodes -keyout "$work/$1.key" -out "$work/$1.csr" -subj "$2" \
        -config "$work/x509.cnf" 2>/dev/null
    openssl x509 -req -in "$work/$1.csr" -CA "$work/$3.crt" -CAkey "$work/$3.key" -CAcreateserial \
        -out "$work/$1.crt" -days 3650 -extfile "$work/x509.cnf" -extensions "$4" 2>/dev/null
}
sign() { # signer output
    rm -f "$out/$2"
    osslsigncode sign -certs "$work/$1.crt" -key "$work/$1.key" -in "$unsigned" -out "$out/$2" >/dev/null
}
root testroot "/CN=Kestrel Test Root/O=Kestrel Test"
root strangeroot "/CN=Stranger Root/O=Stranger"
signer maker "/CN=Quorvane Code Signing/O=Quorvane" testroot signer
signer othermaker "/CN=Elsewhere Code Signing/O=Elsewhere" testroot signer
signer stranger "/CN=Quorvane Code Signing/O=Quorvane" strangeroot signer
signer whql "/CN=Quorvane Hardware/O=Quorvane" testroot whql
openssl x509 -in "$work/testroot.crt" -outform DER -out "$out/root.der"
cp "$unsigned" "$out/unsigned.exe"
sign maker maker.exe
sign othermaker othermaker.exe
sign stranger stranger.exe
sign whql whql.exe
cp "$out/maker.exe" "$out/tampered.exe"
printf 'X' | dd of="$out/tampered.exe" bs=1 seek=2000 conv=notrunc 2>/dev/null
