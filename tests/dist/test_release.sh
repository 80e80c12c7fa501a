#!/usr/bin/env bash
# The release path with a throwaway certificate, in two phases so that the
# Wine test waits only for the first. pair: a release signature needs a time
# stamp; scripts/sign signs the build's pair into OUT_DIR with SHA-256, the
# program carrying the signed driver, checksum intact. bundle: a stand-in for
# Microsoft's package goes through scripts/sign and scripts/bundle, twice; the
# bundle holds exactly the program, the package's files byte for byte, the
# fleet files, the operators' README (CRLF) and SHA256SUMS.
# usage: test_release.sh SOURCE_DIR BUILD_DIR OUT_DIR pair|bundle
set -euo pipefail
source_dir=$1 build=$(realpath "$2") out=$3 phase=$4
signer=$out.signer
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
sign() { "$source_dir/scripts/sign" --test-without-timestamp "$signer/cert.pem" "$signer/key.pem" "$@" >/dev/null; }

if [ "$phase" = pair ]; then
rm -rf "$signer" && mkdir -p "$signer"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Korimath throwaway test signer" \
    -addext "extendedKeyUsage=codeSigning" -addext "keyUsage=digitalSignature" \
    -keyout "$signer/key.pem" -out "$signer/cert.pem" 2>/dev/null
if KORIMATH_TIMESTAMP_URL= "$source_dir/scripts/sign" "$signer/cert.pem" "$signer/key.pem" "$build" "$work/no-ts" \
    2>"$work/refusal.txt"; then
    fail "signed without a time stamp"
fi
grep -q "KORIMATH_TIMESTAMP_URL" "$work/refusal.txt" || fail "the refusal does not say what is missing"

rm -rf "$out"
sign "$build" "$out"
for name in korimath.sys korimath.exe; do
    osslsigncode verify -CAfile "$signer/cert.pem" -in "$out/$name" > "$work/verify.txt" 2>&1 \
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
echo "ok   time stamp required; signed pair carrying its driver"
exit 0
fi

mkdir "$work/package"
cp "$out/korimath.sys" "$work/package/"
printf 'catalog stand-in\r\n' > "$work/package/korimath.cat"
sed 's/\r$//; s/$/\r/' "$source_dir/dist/korimath.inf" > "$work/package/korimath.inf"
sign "$work/package" "$work/signed"
KORIMATH_BUNDLE_DIR=$work/one "$source_dir/scripts/bundle" "$work/signed" >/dev/null
KORIMATH_BUNDLE_DIR=$work/two "$source_dir/scripts/bundle" "$work/signed" >/dev/null
zip_file=$work/one/korimath-1.0.0.2.zip
cmp "$zip_file" "$work/two/korimath-1.0.0.2.zip" || fail "two bundles of one release differ"
mkdir "$work/unpacked" && (cd "$work/unpacked" && unzip -q "$zip_file")
cd "$work/unpacked/korimath-1.0.0.2"
[ "$(find . -type f | sort | tr '\n' ' ')" = "./README.txt ./SHA256SUMS ./fleet/install-korimath.ps1 \
./fleet/korimath-ansible.yml ./fleet/korimath-compliance-wsl2.json ./fleet/korimath-compliance.json \
./fleet/korimath-configmgr.ps1 ./fleet/korimath-detect.ps1 ./fleet/korimath-discovery.ps1 \
./fleet/korimath-remediate.ps1 ./fleet/uninstall-korimath.ps1 ./korimath.cat ./korimath.exe ./korimath.inf \
./korimath.sys " ] || fail "unexpected contents: $(find . -type f)"
sha256sum --quiet -c SHA256SUMS && [ "$(wc -l < SHA256SUMS)" -eq 14 ] || fail "SHA256SUMS does not match the 14 files"
for name in korimath.sys korimath.cat korimath.inf; do
    cmp "$name" "$work/package/$name" || fail "$name is not the package's own, byte for byte"
done
cmp korimath.exe "$work/signed/korimath.exe" || fail "korimath.exe is not the signed program"
[ "$(grep -c $'\r$' README.txt)" -eq "$(wc -l < README.txt)" ] && grep -q "CR4_VMXE" README.txt \
    || fail "README.txt is not CRLF throughout, or lacks the value table"
"$source_dir/scripts/bundle" "$work/package" >/dev/null 2>&1 && fail "bundled a folder without the signed program"
echo "ok   reproducible bundle of the package and program"
