#!/usr/bin/env bash
# The release bundle, made as a release is: a stand-in for Microsoft's signed
# package (the driver signed with a throwaway certificate, a catalog, the
# INF) goes through scripts/sign, then scripts/bundle. The bundle holds
# exactly the program, the package's three files byte for byte, the
# operators' README (CRLF) and SHA256SUMS that match them, and is
# reproducible.
#
# usage: test_bundle.sh SOURCE_DIR BUILD_DIR WORK_DIR
set -euo pipefail
source_dir=$1 build=$(realpath "$2")
work=$(mktemp -d "${3:-/tmp}/korimath-bundle.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Korimath throwaway Microsoft stand-in" \
    -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
mkdir "$work/package"
osslsigncode sign -h sha256 -certs "$work/cert.pem" -key "$work/key.pem" -in "$build/korimath.sys" \
    -out "$work/package/korimath.sys" >/dev/null
printf 'catalog stand-in\r\n' > "$work/package/korimath.cat"
sed 's/\r$//; s/$/\r/' "$source_dir/dist/korimath.inf" > "$work/package/korimath.inf"
"$source_dir/scripts/sign" --test-without-timestamp "$work/cert.pem" "$work/key.pem" "$work/package" "$work/signed" \
    >/dev/null

KORIMATH_BUNDLE_DIR=$work/one "$source_dir/scripts/bundle" "$work/signed"
KORIMATH_BUNDLE_DIR=$work/two "$source_dir/scripts/bundle" "$work/signed" >/dev/null
zip_file=$work/one/korimath-1.0.0.2.zip
cmp "$zip_file" "$work/two/korimath-1.0.0.2.zip" || fail "two bundles of one release differ"
mkdir "$work/unpacked" && (cd "$work/unpacked" && unzip -q "$zip_file")
listing=$(cd "$work/unpacked/korimath-1.0.0.2" && find . -type f | sort | tr '\n' ' ')
[ "$listing" = "./README.txt ./SHA256SUMS ./korimath.cat ./korimath.exe ./korimath.inf ./korimath.sys " ] \
    || fail "unexpected contents: $listing"
cd "$work/unpacked/korimath-1.0.0.2"
sha256sum --quiet -c SHA256SUMS || fail "SHA256SUMS does not match"
[ "$(wc -l < SHA256SUMS)" -eq 5 ] || fail "SHA256SUMS does not cover the five files"
for name in korimath.sys korimath.cat korimath.inf; do
    cmp "$name" "$work/package/$name" || fail "$name is not the package's own"
done
cmp korimath.exe "$work/signed/korimath.exe" || fail "korimath.exe is not the signed program"
[ "$(grep -c $'\r$' README.txt)" -eq "$(wc -l < README.txt)" ] || fail "README.txt is not CRLF throughout"
grep -q "CR4_VMXE" README.txt || fail "README.txt lacks the value table"
if "$source_dir/scripts/bundle" "$work/package" >/dev/null 2>&1; then
    fail "bundled a folder without the signed program"
fi
echo "ok   reproducible bundle of the program, the signed package's driver, INF and catalog, README and SHA256SUMS"
