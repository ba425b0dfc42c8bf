#!/usr/bin/env bash
# A PE with resource RAW 130 built by mingw and windres, signed with a throwaway certificate: osslsigncode accepts the signature and kesmar-pack still reads the payload.
#   signed_launcher_test.sh KESMAR_PACK SIGN_LAUNCHER WORKDIR [EXE [RUNNER]]
# EXE is a real launcher to sign; without it a small stand-in is built here.
# With RUNNER (scripts/wine-run), the signed EXE must also run with exit 0,
# and the sample setup program inside it must have written its report.
# Exit 77 (skipped) when a tool it needs is missing.
set -euo pipefail
pack=$1 sign=$2 work=$3 launcher=${4:-} runner=${5:-}
for tool in osslsigncode openssl i686-w64-mingw32-gcc i686-w64-mingw32-windres; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
rm -rf "$work" && mkdir -p "$work/finst" && cd "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }
records() { "$pack" list "$1" | grep -v '^payload: '; }

if [ -z "$launcher" ]; then
  printf 'int main(void) { return 0; }\n' > stand_in.c
  # A real program as the setup program: verify wants one the launcher could start.
  i686-w64-mingw32-gcc -O2 -s stand_in.c -o finst/KesmarSetup.exe
  printf 'abc' > finst/a.txt
  "$pack" pack finst -o datakes.lzma > /dev/null
  printf '130 RAW "datakes.lzma"\n' > payload.rc
  i686-w64-mingw32-windres payload.rc -O coff -o payload.res
  i686-w64-mingw32-gcc -O2 -s stand_in.c payload.res -o launcher.exe
  launcher=launcher.exe
  records launcher.exe > unsigned.txt || fail "list of the unsigned exe failed"
  cmp -s <(records datakes.lzma) unsigned.txt || fail "the unsigned exe lists other records than its payload"
fi
records "$launcher" > expected.txt || fail "list of the unsigned exe failed"

# A throwaway code-signing certificate.
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 \
  -subj "/CN=KesmarSetupWin test signing" -addext "extendedKeyUsage=codeSigning" 2> openssl.log

SIGN_CERT=cert.pem SIGN_KEY=key.pem "$sign" "$launcher" signed.exe > sign.out || fail "signing failed"
grep -q 'signed (Authenticode, SHA-256)' sign.out || fail "sign-launcher said: $(cat sign.out)"
osslsigncode verify -in signed.exe -CAfile cert.pem > verify.log 2>&1 || fail "osslsigncode verify: $(tail -5 verify.log)"
grep -qi 'sha256' verify.log || fail "digest is not SHA-256: $(grep -i digest verify.log)"
records signed.exe > signed.txt || fail "list of the signed exe failed"
cmp -s expected.txt signed.txt || fail "the signed exe lists other records"
"$pack" verify signed.exe > /dev/null || fail "verify of the signed exe failed"
# The signature covers the payload: one changed byte of it breaks the signature.
offset=$("$pack" list signed.exe | sed -n 's/^payload: .* at file offset \([0-9]*\)$/\1/p')
cp signed.exe tampered.exe
printf '\377' | dd of=tampered.exe bs=1 seek=$((offset + 20)) conv=notrunc 2> /dev/null
if osslsigncode verify -in tampered.exe -CAfile cert.pem > /dev/null 2>&1; then
  fail "a changed payload byte still verifies"
fi

# A PKCS#12 file with a password given through the environment.
openssl pkcs12 -export -out signer.p12 -inkey key.pem -in cert.pem -passout pass:s3cret 2>> openssl.log
SIGN_PKCS12=signer.p12 SIGN_PASSWORD=s3cret "$sign" "$launcher" signed_p12.exe > /dev/null || fail "PKCS#12 signing failed"
osslsigncode verify -in signed_p12.exe -CAfile cert.pem > verify_p12.log 2>&1 || fail "PKCS#12 signature does not verify"
cmp -s expected.txt <(records signed_p12.exe) || fail "the PKCS#12-signed exe lists other records"

# Refusals: a wrong password, no material, a missing input. One line each, nothing written.
set +e
SIGN_PKCS12=signer.p12 SIGN_PASSWORD=wrong "$sign" "$launcher" bad.exe 2> wrong.err; code=$?
set -e
[ "$code" = 1 ] || fail "wrong password exited $code"
[ "$(wc -l < wrong.err)" = 1 ] || fail "wrong password said: $(cat wrong.err)"
[ ! -e bad.exe ] && [ ! -e bad.exe.signing ] || fail "a failed signing left a file"
set +e
env -u SIGN_CERT -u SIGN_KEY -u SIGN_PKCS12 "$sign" "$launcher" none.exe 2> none.err; code=$?
set -e
[ "$code" = 2 ] || fail "no material exited $code"
grep -q 'no signing material' none.err || fail "no material said: $(cat none.err)"
if [ -n "$runner" ]; then
  KESMAR_SAMPLE_REPORT="Z:$(pwd | tr / '\\')\\report.txt"
  export KESMAR_SAMPLE_REPORT
  set +e
  "$runner" signed.exe; code=$?
  set -e
  [ "$code" = 0 ] || fail "the signed launcher exited $code"
  [ -s report.txt ] || fail "the setup program inside the signed launcher did not run"
fi
echo "signed launcher checks passed"
