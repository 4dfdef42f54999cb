#!/usr/bin/env bash
# Makes the signed installer that the installer's end-to-end test installs beside its
# unsigned twin: a throwaway self-signed certificate from openssl, the same manifest built
# twice, once with --sign; both checked by `wickerbay-pack verify`, the signed one by
# `osslsigncode verify` against that certificate.
#
# Usage: signed_installer.sh DIST_DIR OUT_DIR
set -euo pipefail
dist=$1
out=$2
rm -rf "$out"
mkdir -p "$out/app/docs"
cd "$out"

openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 \
  -subj "/CN=Wickerbay Test Publisher" 2>/dev/null
printf 'throwaway\n' >password.txt
openssl pkcs12 -export -inkey key.pem -in cert.pem -out cert.p12 -passout file:password.txt

cp "$dist/__uninst.exe" app/
head -c 300000 /dev/urandom >app/data.bin
printf 'Signed and unsigned install the same.\r\n' >app/docs/readme.txt
cat >package.cfg <<'CFG'
package {
  product = "Signed Test"
  installDir = "C:\\wbtest\\signed-install"
  source = "app"
}
CFG
"$dist/wickerbay-pack" build package.cfg -o Unsigned.exe --stub "$dist/Wickerbay.exe" --strict
"$dist/wickerbay-pack" build package.cfg -o Signed.exe --stub "$dist/Wickerbay.exe" --strict \
  --sign cert.p12 --sign-password-file password.txt
"$dist/wickerbay-pack" verify Unsigned.exe
"$dist/wickerbay-pack" verify Signed.exe
osslsigncode verify -CAfile cert.pem -in Signed.exe >verify.log 2>&1 || { cat verify.log; exit 1; }
# The signature lies after the package: the package is the same bytes in both.
unsigned_size=$(stat -c %s Unsigned.exe)
[ "$(stat -c %s Signed.exe)" -gt "$unsigned_size" ]
offset=$(stat -c %s "$dist/Wickerbay.exe")
cmp <(tail -c +$((offset + 1)) Unsigned.exe) <(tail -c +$((offset + 1)) Signed.exe | head -c $((unsigned_size - offset)))
echo "signed installer ready"
