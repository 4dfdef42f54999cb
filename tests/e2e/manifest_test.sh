#!/usr/bin/env bash
# The application manifests as Windows reads them: resource 24/1 of each program, taken
# from the PE files in the dist folder, checked field by field; and the execution level
# the builder gives a per-user installer and a machine-wide one.
#   manifest_test.sh DIST_DIR WORK_DIR
set -u
dist=$1 work=$2
rm -rf "$work" && mkdir -p "$work/app" || exit 1
failures=0 passes=0
check() {  # name expected actual
  if [ "$2" == "$3" ]; then passes=$((passes + 1)); else
    failures=$((failures + 1)); printf 'FAILED %s\n--- expected\n%s\n--- got\n%s\n' "$1" "$2" "$3"; fi
}
manifest() { wrestool -x --raw -t 24 -n 1 "$1" 2>/dev/null; }
levels() { manifest "$1" | grep -o '<requestedExecutionLevel [^>]*>' ; }

supported='{1f676c76-80e1-4239-95bb-83d0f6d0da78}
{35138b9a-5d96-4fbd-8e2d-a2440225f93a}
{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}
{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}
{e2011457-1546-43c5-a5fe-008deee3d3f0}'
controls='<assemblyIdentity type="win32" name="Microsoft.Windows.Common-Controls" version="6.0.0.0" processorArchitecture="*" publicKeyToken="6595b64144ccf1df" language="*"/>'
scaling='<gdiScaling xmlns="http://schemas.microsoft.com/SMI/2017/WindowsSettings">true</gdiScaling>'

for row in "Wickerbay.exe requireAdministrator" "__uninst.exe asInvoker" "vmkick.exe asInvoker"; do
  set -- $row
  m=$(manifest "$dist/$1")
  check "$1: one manifest, resource 24/1" 1 "$(wrestool -l -t 24 "$dist/$1" | grep -c -- '--name=1 ')"
  check "$1: execution level" "<requestedExecutionLevel level=\"$2\" uiAccess=\"false\"/>" "$(levels "$dist/$1")"
  check "$1: Windows Vista to 11" "$supported" "$(printf '%s' "$m" | grep -o 'supportedOS Id="[^"]*"' | cut -d'"' -f2 | sort)"
  check "$1: common controls 6" "$controls" "$(printf '%s' "$m" | grep -o '<assemblyIdentity [^>]*Common-Controls[^>]*>')"
  check "$1: GDI scaling" "$scaling" "$(printf '%s' "$m" | grep -o '<gdiScaling[^>]*>[^<]*</gdiScaling>')"
  # DPI-unaware otherwise: the fixed pixel layout keeps its meaning.
  check "$1: no DPI awareness" 0 "$(printf '%s' "$m" | grep -ci 'dpiAware')"
done

# The builder: a machine-wide package's installer keeps the request for administrator
# rights, a per-user one's asks for none; nothing else of the manifest changes.
echo hello >"$work/app/readme.txt"
for dir in 'C:\\Program Files\\T' '$L\\Programs\\T'; do
  printf 'package {\n product = "T"\n installDir = "%s"\n source = "app"\n shortcut { link = "$D\\\\T.lnk" target = "%s\\\\readme.txt" }\n}\n' \
    "$dir" "$dir" >"$work/package.cfg"
  out=$work/T-${dir:0:2}.exe
  "$dist/wickerbay-pack" build "$work/package.cfg" -o "$out" --stub "$dist/Wickerbay.exe" >/dev/null 2>"$work/err" ||
    { check "build $dir" "" "$(cat "$work/err")"; continue; }
  expected=requireAdministrator
  [ "${dir:0:2}" = '$L' ] && expected=asInvoker
  # Rewritten in place: the blanks make up the length.
  check "installer of $dir: level" "<requestedExecutionLevel level=\"$expected\" uiAccess=\"false\"/>" \
    "$(levels "$out" | tr -s ' ')"
  check "installer of $dir: manifest length" "$(manifest "$dist/Wickerbay.exe" | wc -c)" "$(manifest "$out" | wc -c)"
  check "installer of $dir: the rest of the manifest" "$(manifest "$dist/Wickerbay.exe" | grep -v requestedExecutionLevel)" \
    "$(manifest "$out" | grep -v requestedExecutionLevel)"
done

printf '%d passed, %d failed\n' "$passes" "$failures"
[ "$failures" -eq 0 ]
