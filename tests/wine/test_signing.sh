#!/usr/bin/env bash
# Signs the image and the program with a throwaway code-signing certificate,
# checks that osslsigncode accepts both signatures and that the image's
# checksum is still right, and that the signed pair still runs under Wine.
#
# usage: test_signing.sh SOURCE_DIR BUILD_DIR WORK_DIR
set -euo pipefail
source_dir=$1 build=$2
work=$(mktemp -d "${3:-/tmp}/korimath-sign.XXXXXX")
trap 'rm -rf "$work"' EXIT

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Korimath throwaway test signer" \
    -addext "extendedKeyUsage=codeSigning" -addext "keyUsage=digitalSignature" \
    -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
"$source_dir/scripts/sign" "$work/cert.pem" "$work/key.pem" "$build" "$work/signed"

for name in korimath.sys korimath.exe; do
    osslsigncode verify -CAfile "$work/cert.pem" -in "$work/signed/$name" > "$work/verify.txt" 2>&1 || {
        cat "$work/verify.txt"; echo "FAIL: osslsigncode rejects the signature of $name"; exit 1; }
    grep -q "Message digest algorithm *: SHA256" "$work/verify.txt" || { echo "FAIL: $name not SHA-256"; exit 1; }
done
echo "ok   osslsigncode verify accepts both SHA-256 signatures"
"$source_dir/scripts/sign" "$work/cert.pem" "$work/key.pem" "$work/signed" "$work/again" >/dev/null
cmp "$work/signed/korimath.sys" "$work/again/korimath.sys" || { echo "FAIL: a signed image was signed again"; exit 1; }
echo "ok   a file that is already signed keeps its signature"
/usr/bin/python3 -c "import sys, pefile; sys.exit(0 if pefile.PE(sys.argv[1]).verify_checksum() else 1)" \
    "$work/signed/korimath.sys" || { echo "FAIL: the signed image's checksum is wrong"; exit 1; }
echo "ok   the signed image's checksum"

KORIMATH_WINE_WORKDIR="$work" /usr/bin/python3 "$source_dir/tools/wine_load.py" \
    "$work/signed/korimath.exe" "$work/signed/korimath.sys" | tee "$work/load.txt"
grep -q "driver loaded" "$work/load.txt" || { echo "FAIL: the signed pair did not load"; exit 1; }
echo "ok   the signed pair loads under Wine"
