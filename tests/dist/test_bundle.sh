#!/usr/bin/env bash
# The release bundle holds exactly the image, the operator's program, the
# operators' README (CRLF) and SHA256SUMS that match them, and is reproducible.
#
# usage: test_bundle.sh SOURCE_DIR BUILD_DIR WORK_DIR
set -euo pipefail
source_dir=$1 build=$(realpath "$2")
work=$(mktemp -d "${3:-/tmp}/korimath-bundle.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

KORIMATH_BUNDLE_DIR=$work/one "$source_dir/scripts/bundle" "$build"
KORIMATH_BUNDLE_DIR=$work/two "$source_dir/scripts/bundle" "$build" >/dev/null
zip_file=$work/one/korimath-1.0.0.2.zip
cmp "$zip_file" "$work/two/korimath-1.0.0.2.zip" || fail "two bundles of one build differ"
mkdir "$work/unpacked" && (cd "$work/unpacked" && unzip -q "$zip_file")
listing=$(cd "$work/unpacked" && find . -type f | sort | tr '\n' ' ')
[ "$listing" = "./korimath-1.0.0.2/README.txt ./korimath-1.0.0.2/SHA256SUMS ./korimath-1.0.0.2/korimath.exe ./korimath-1.0.0.2/korimath.sys " ] \
    || fail "unexpected contents: $listing"
cd "$work/unpacked/korimath-1.0.0.2"
sha256sum --quiet -c SHA256SUMS || fail "SHA256SUMS does not match"
[ "$(wc -l < SHA256SUMS)" -eq 3 ] || fail "SHA256SUMS does not cover the three files"
cmp korimath.sys "$build/korimath.sys" && cmp korimath.exe "$build/korimath.exe" || fail "not the given files"
[ "$(grep -c $'\r$' README.txt)" -eq "$(wc -l < README.txt)" ] || fail "README.txt is not CRLF throughout"
grep -q "CR4_VMXE" README.txt || fail "README.txt lacks the value table"
echo "ok   reproducible bundle of the image, the program, README and SHA256SUMS"
