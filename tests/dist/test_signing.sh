#!/usr/bin/env bash
# Signs the image and the program with a throwaway code-signing certificate
# into OUT_DIR (the Wine test then runs that signed pair), and checks that
# osslsigncode accepts both signatures, that the program carries the signed
# driver, that the image's checksum is still right, that a driver already
# signed keeps its signature byte for byte, and that a release signature
# needs a time stamp.
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
if KORIMATH_TIMESTAMP_URL= "$source_dir/scripts/sign" "$work/cert.pem" "$work/key.pem" "$build" "$work/no-ts" \
    2>"$work/refusal.txt"; then
    fail "signed without a time stamp"
fi
grep -q "KORIMATH_TIMESTAMP_URL" "$work/refusal.txt" || fail "the refusal does not say what is missing"

rm -rf "$out"
"$source_dir/scripts/sign" --test-without-timestamp "$work/cert.pem" "$work/key.pem" "$build" "$out"
for name in korimath.sys korimath.exe; do
    osslsigncode verify -CAfile "$work/cert.pem" -in "$out/$name" > "$work/verify.txt" 2>&1 \
        || { cat "$work/verify.txt"; fail "osslsigncode rejects the signature of $name"; }
    grep -q "Message digest algorithm *: SHA256" "$work/verify.txt" || fail "$name not signed with SHA-256"
done
/usr/bin/python3 - "$out" <<'PY' || fail "the program does not carry the signed driver, or the driver's checksum is wrong"
import sys, pefile
exe, sys_ = pefile.PE(sys.argv[1] + "/korimath.exe"), pefile.PE(sys.argv[1] + "/korimath.sys")
rcdata = next(e for e in exe.DIRECTORY_ENTRY_RESOURCE.entries if e.id == 10).directory.entries[0]
data = rcdata.directory.entries[0].data.struct
carried = exe.get_data(data.OffsetToData, data.Size)
sys.exit(0 if carried == open(sys.argv[1] + "/korimath.sys", "rb").read() and sys_.verify_checksum() else 1)
PY
# A package as Microsoft's portal returns it: the driver already signed, its catalog and INF.
mkdir "$work/package"
cp "$out/korimath.sys" "$work/package/"
echo "catalog" > "$work/package/korimath.cat"
cp "$source_dir/dist/korimath.inf" "$work/package/"
"$source_dir/scripts/sign" --test-without-timestamp "$work/cert.pem" "$work/key.pem" "$work/package" "$work/again" \
    >/dev/null
cmp "$work/package/korimath.sys" "$work/again/korimath.sys" || fail "a signed driver was signed again"
cmp "$work/package/korimath.cat" "$work/again/korimath.cat" || fail "the catalog was not passed on"
echo "ok   both signed with SHA-256, the program carries the signed driver, an existing signature kept, time stamp required"
