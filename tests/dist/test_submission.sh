#!/usr/bin/env bash
# The submission cabinet: exactly korimath.sys, korimath.inf and korimath.pdb
# under korimath/, each the build's own bytes, the same cabinet before signing
# on every run, and a signature osslsigncode accepts.
#
# usage: test_submission.sh SOURCE_DIR BUILD_DIR WORK_DIR
set -euo pipefail
source_dir=$1 build=$(realpath "$2")
work=$(mktemp -d "${3:-/tmp}/korimath-cab.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Korimath throwaway EV stand-in" \
    -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
for run in one two; do
    KORIMATH_DRIVER_DIR=$build KORIMATH_UNSIGNED_CAB=$work/$run.unsigned.cab \
        "$source_dir/scripts/submission" "$work/cert.pem" "$work/key.pem" "$work/$run.cab" >/dev/null
done
cmp "$work/one.unsigned.cab" "$work/two.unsigned.cab" || fail "two cabinets of one build differ before signing"
osslsigncode verify -CAfile "$work/cert.pem" -in "$work/one.cab" >/dev/null 2>&1 || fail "signature rejected"

listing=$(gcab -l "$work/one.cab" | awk '{print $1}' | tr '\n' ' ')
[ "$listing" = 'korimath\korimath.sys korimath\korimath.inf korimath\korimath.pdb ' ] || fail "contents: $listing"
mkdir "$work/out" && (cd "$work/out" && gcab -x "$work/one.cab")
cmp "$work/out/korimath/korimath.sys" "$build/korimath.sys" || fail "korimath.sys differs from the build's"
cmp "$work/out/korimath/korimath.pdb" "$build/korimath.pdb" || fail "korimath.pdb differs from the build's"
sed 's/\r$//; s/$/\r/' "$source_dir/dist/korimath.inf" | cmp - "$work/out/korimath/korimath.inf" \
    || fail "korimath.inf differs from dist/korimath.inf with CRLF"
gcab -l -v "$work/one.cab"
echo "ok   signed cabinet of $(stat -c %s "$work/one.cab") bytes: korimath/ with the image, INF and PDB"
