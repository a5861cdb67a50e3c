#!/usr/bin/env bash
# Signs Windows programs in place (Authenticode, SHA-256) with the school's own
# code-signing certificate, so that SmartScreen and the administrator prompt
# name the publisher instead of "Unknown publisher":
#   ORU_SIGN_PKCS12=certificate.pfx [ORU_SIGN_PASSWORD_FILE=file]
#     [ORU_SIGN_TIMESTAMP_URL=url] sign-windows.sh FILE...

# Without ORU_SIGN_PKCS12 it does nothing: the build calls it for the driver
# it links, the setup and its uninstaller. A timestamp keeps
# the signature valid after the certificate expires (it needs the network).
set -euo pipefail
[[ -n ${ORU_SIGN_PKCS12:-} ]] || exit 0
if ! command -v osslsigncode >/dev/null; then
  echo "sign-windows.sh: osslsigncode not found: install the Debian package osslsigncode" >&2
  exit 1
fi
for file in "$@"; do
  options=(-pkcs12 "$ORU_SIGN_PKCS12" -n oruDriver -h sha256)
  [[ -z ${ORU_SIGN_PASSWORD_FILE:-} ]] || options+=(-readpass "$ORU_SIGN_PASSWORD_FILE")
  [[ -z ${ORU_SIGN_TIMESTAMP_URL:-} ]] || options+=(-ts "$ORU_SIGN_TIMESTAMP_URL")
  if ! said=$(osslsigncode sign "${options[@]}" -in "$file" -out "$file.signed" 2>&1); then
    rm -f "$file.signed"
    echo "sign-windows.sh: $file could not be signed with $ORU_SIGN_PKCS12: $said" >&2
    exit 1
  fi
  mv "$file.signed" "$file"
done
