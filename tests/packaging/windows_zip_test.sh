#!/usr/bin/env bash
# The Windows zip as an installer author with only the zip meets it: unpacked,
# its kesmar-pack.exe (under Wine) finds the stub beside itself and turns a
# folder with a setup program, a font and names in Cyrillic or Japanese into
# a launcher that is byte for byte the Linux tool's, verifies it, and that
# launcher runs and leaves nothing behind; signed, it still verifies.
#   windows_zip_test.sh VERSION WIN64_EXE STUB SOURCE_DIR HOST_PACK WINE_RUN FINST WORKDIR
set -euo pipefail
version=$1 exe=$2 stub=$3 source=$4 host_pack=$5 wine_run=$6 finst=$7 work=$8
fail() { echo "FAIL: $*" >&2; exit 1; }
# kesmar-pack.exe under 64-bit Wine, without address randomization, which now
# and then keeps Debian's preloader-less Wine from starting (see wine-run).
run_exe() { WINEDEBUG=-all setarch "$(uname -m)" -R wine "$@"; }
rm -rf "$work" && mkdir -p "$work" && cd "$work"

python3 "$source/packaging/make_windows_zip.py" "$version" "$exe" "$stub" "$source" kesmar-pack.zip >/dev/null
python3 -m zipfile -e kesmar-pack.zip unpacked
tool=$work/unpacked/kesmar-pack-$version-windows-x64/kesmar-pack.exe
[ -f "$(dirname "$tool")/LICENSES.txt" ] && [ -f "$(dirname "$tool")/docs/signing.md" ] || fail "the zip lacks its notices or docs"
# Its README speaks to a Windows user: PATH, signtool, try on Linux only; no Linux build steps.
readme=$(dirname "$tool")/README.md
grep -q "SetEnvironmentVariable" "$readme" && grep -q "signtool sign" "$readme" && grep -q "Linux only" "$readme" &&
  grep -q "kesmar-pack $version for Windows" "$readme" || fail "the zip's README is not the Windows one"
! grep -nE '\b(make|apt|apt-get|dpkg|sudo)\b' "$readme" || fail "the zip's README shows Linux build steps"

prefix_temp() {
  local users=$WINEPREFIX/drive_c/users temp
  for temp in "$users"/*/Temp "$users"/*/AppData/Local/Temp; do
    [ -d "$temp" ] && echo "$temp" && return
  done
}

for case in "1251 данные.txt" "932 日本語の説明.txt"; do
  codepage=${case%% *} name=${case#* }
  mkdir "in-$codepage"
  cp "$finst"/* "in-$codepage/"
  echo "$name" > "in-$codepage/$name"
  # Under Wine, as on Windows: no stub named, the one beside the exe.
  run_exe "$tool" launcher "in-$codepage" --codepage "$codepage" -o "win-$codepage.exe" > made.txt ||
    fail "kesmar-pack.exe launcher (code page $codepage): $(cat made.txt)"
  "$host_pack" launcher "in-$codepage" --codepage "$codepage" --stub "$stub" -o "linux-$codepage.exe" >/dev/null
  cmp -s "win-$codepage.exe" "linux-$codepage.exe" || fail "code page $codepage: the two tools' launchers differ"
  run_exe "$tool" verify --codepage "$codepage" "win-$codepage.exe" > verify.txt ||
    fail "verify: $(cat verify.txt)"
  grep -q "OK, 4 records" verify.txt || fail "verify said: $(cat verify.txt)"

  report=$work/report-$codepage.txt
  KESMAR_SAMPLE_REPORT="Z:${report//\//\\}" WINE_RUN_TIME_LIMIT=60 "$wine_run" "win-$codepage.exe" ||
    fail "the launcher of code page $codepage exited $?"
  grep -q "$name" "$report" 2>/dev/null || iconv -f "CP$codepage" -t UTF-8 "$report" | grep -q "$name" ||
    fail "the setup program did not see $name beside itself"
  left=$(ls "$(prefix_temp)" | grep '^kesmars' || true)
  [ -z "$left" ] || fail "left in the temporary folder: $left"
done
# try needs Wine, which Windows has not: said in one line, exit 1.
code=0
run_exe "$tool" try win-1251.exe > try.txt 2>&1 || code=$?
[ "$code" = 1 ] && grep -q "runs on Linux only" try.txt || fail "try on Windows (exit $code): $(cat try.txt)"

# Signed, the payload still reads: signing comes after kesmar-pack.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Zip Test Signing" \
  -addext "extendedKeyUsage=codeSigning" -keyout key.pem -out cert.pem 2>/dev/null
osslsigncode sign -certs cert.pem -key key.pem -h sha256 -in win-1251.exe -out signed.exe >/dev/null ||
  fail "osslsigncode could not sign"
run_exe "$tool" verify --codepage 1251 signed.exe | grep -q "OK, 4 records" ||
  fail "kesmar-pack.exe does not read the payload of a signed launcher"

echo "windows zip: kesmar-pack.exe from the zip made the Linux tool's launchers for code pages 1251 and 932; they ran and left nothing; a signed one verifies"
