#!/usr/bin/env bash
# scripts/sign-windows.sh with a throwaway self-signed certificate: the copy of
# the driver verifies against it; without a certificate nothing changes; a
# wrong password fails with a line that says so and leaves the file as it was.
#   sign_windows_test.sh SIGN_SCRIPT DRIVER_EXE
set -euo pipefail
sign=$1 work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
cd "$work"
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 1 -subj "/CN=Okul" \
  -addext extendedKeyUsage=codeSigning 2>/dev/null
openssl pkcs12 -export -inkey key.pem -in cert.pem -out cert.pfx -passout pass:secret
echo secret >password && echo wrong >wrong
cp "$2" driver.exe && cp "$2" original.exe
"$sign" driver.exe && cmp -s driver.exe original.exe || fail "changed without a certificate"
export ORU_SIGN_PKCS12=$work/cert.pfx
! ORU_SIGN_PASSWORD_FILE=wrong "$sign" driver.exe 2>said && grep -q "could not be signed" said &&
  cmp -s driver.exe original.exe || fail "a wrong password: $(cat said)"
ORU_SIGN_PASSWORD_FILE=password "$sign" driver.exe || fail "not signed"
osslsigncode verify -CAfile cert.pem -in driver.exe >verify 2>&1 || fail "no valid signature: $(cat verify)"
