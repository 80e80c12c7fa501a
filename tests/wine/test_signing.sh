#!/usr/bin/env bash
# Signs the image with a throwaway code-signing certificate, checks that
# osslsigncode accepts the signature and that the checksum is still right,
# and that the signed image still loads under Wine.
#
# usage: test_signing.sh SOURCE_DIR KORIMATH_SYS WORK_DIR
set -euo pipefail
source_dir=$1 image=$2
work=$(mktemp -d "${3:-/tmp}/korimath-sign.XXXXXX")
trap 'rm -rf "$work"' EXIT

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Korimath throwaway test signer" \
    -addext "extendedKeyUsage=codeSigning" -addext "keyUsage=digitalSignature" \
    -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
"$source_dir/scripts/sign" "$work/cert.pem" "$work/key.pem" "$image" "$work/korimath.sys"

osslsigncode verify -CAfile "$work/cert.pem" -in "$work/korimath.sys" > "$work/verify.txt" 2>&1 || {
    cat "$work/verify.txt"; echo "FAIL: osslsigncode rejects the signature"; exit 1; }
grep -q "Message digest algorithm *: SHA256" "$work/verify.txt" || { echo "FAIL: not SHA-256"; exit 1; }
echo "ok   osslsigncode verify accepts the SHA-256 signature"

/usr/bin/python3 "$source_dir/tests/image/check_image.py" checksum "$work/korimath.sys" /dev/null
/usr/bin/python3 - "$work/korimath.sys" <<'PY'
import sys, pefile
pe = pefile.PE(sys.argv[1])
security = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
assert security.Size > 0, "no certificate table"
print(f"ok   certificate table of {security.Size} bytes")
PY

KORIMATH_WINE_WORKDIR="$work" /usr/bin/python3 "$source_dir/tools/wine_load.py" "$work/korimath.sys" \
    | tee "$work/load.txt"
grep -q "RUNNING, exit code 0" "$work/load.txt" || { echo "FAIL: the signed image did not load"; exit 1; }
echo "ok   the signed image loads under Wine"
