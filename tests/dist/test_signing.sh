#!/usr/bin/env bash
# Signs the image and the program with a throwaway code-signing certificate
# into OUT_DIR (the Wine test then runs that signed pair), and checks that
# osslsigncode accepts both signatures, that the image's checksum is still
# right, and that signing again keeps an existing signature.
#
# usage: test_signing.sh SOURCE_DIR BUILD_DIR OUT_DIR
set -euo pipefail
source_dir=$1 build=$2 out=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Korimath throwaway test signer" \
    -addext "extendedKeyUsage=codeSigning" -addext "keyUsage=digitalSignature" \
    -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
rm -rf "$out"
"$source_dir/scripts/sign" "$work/cert.pem" "$work/key.pem" "$build" "$out"
for name in korimath.sys korimath.exe; do
    osslsigncode verify -CAfile "$work/cert.pem" -in "$out/$name" > "$work/verify.txt" 2>&1 \
        || { cat "$work/verify.txt"; fail "osslsigncode rejects the signature of $name"; }
    grep -q "Message digest algorithm *: SHA256" "$work/verify.txt" || fail "$name not signed with SHA-256"
done
/usr/bin/python3 -c "import sys, pefile; sys.exit(0 if pefile.PE(sys.argv[1]).verify_checksum() else 1)" \
    "$out/korimath.sys" || fail "the signed image's checksum is wrong"
"$source_dir/scripts/sign" "$work/cert.pem" "$work/key.pem" "$out" "$work/again" >/dev/null
cmp "$out/korimath.sys" "$work/again/korimath.sys" || fail "a signed image was signed again"
echo "ok   both files signed with SHA-256, checksum intact, an existing signature kept"
