#!/usr/bin/env bash
# How setup-deps decides whether i386 programs need the emulator, and exactly what it then
# runs, without touching the machine: the probe's answer, the apt sources, the binfmt_misc
# folder and the emulator are stand-ins, and commands are printed, not run.
#   i386_host_test.sh PATH/TO/scripts/i386-host
set -u
script=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0 passes=0

check() {  # name expected actual
  if [ "$2" == "$3" ]; then
    passes=$((passes + 1))
  else
    failures=$((failures + 1))
    printf 'FAILED %s\n--- expected\n%s\n--- got\n%s\n' "$1" "$2" "$3"
  fi
}

mkdir -p "$work/apt/sources.list.d" "$work/mounted"
cat >"$work/apt/sources.list.d/debian.sources" <<'EOF'
Types: deb
URIs: http://archive.invalid/debian-security
Suites: bookworm-security
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb
URIs: http://archive.invalid/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
: >"$work/mounted/register"
export WB_APT_ETC=$work/apt WB_I386_DRY_RUN=1
deps=$work/deps
arch=$(dpkg --print-architecture)
opts="-qq -o Dir::Etc::SourceList=$deps/qemu-apt/sources.list -o Dir::Etc::SourceParts=$deps/qemu-apt/parts -o Dir::State::Lists=$deps/qemu-apt/lists -o Dir::Cache=$deps/qemu-apt/cache -o Dir::State::status=/dev/null -o APT::Architecture=$arch -o APT::Architectures=$arch -o APT::Sandbox::User=$(id -un) -o Debug::NoLocking=1"
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\xfc\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
register() {  # binfmt dir
  printf "+ sh -c printf '%%s\\\\n' ':qemu-i386:M::%s:%s:%s/qemu/i386-binfmt-P:POF' > '%s/register'" \
    "$magic" "$mask" "$deps" "$1"
}
fetch="+ apt-get $opts update
+ (cd $deps/qemu-apt && apt-get $opts download qemu-user)
+ dpkg-deb --fsys-tarfile $deps/qemu-apt/qemu-user_*.deb | tar -xO ./usr/bin/qemu-i386 > $deps/qemu/qemu-i386
+ ln -sfn qemu-i386 $deps/qemu/i386-binfmt-P"

# A kernel that runs i386 programs: nothing is fetched, registered or said.
out=$(WB_I386_PROBE=runs WB_BINFMT_DIR=$work/unmounted "$script" ensure "$deps" 2>&1)
check "runs i386: nothing done" "" "$out"
[ ! -e "$deps" ]; check "runs i386: no deps folder" 0 $?

# One that refuses them, on a fresh machine: the emulator is fetched from the machine's own
# Debian archive (not the security one), binfmt_misc mounted, the handler registered.
said="setup-deps: this kernel runs no 32-bit programs: they now run under qemu-i386 ($deps/qemu), handed to it by binfmt_misc until the machine restarts (undo: echo -1 > $work/unmounted/qemu-i386, as root)"
out=$(WB_I386_PROBE=refused WB_BINFMT_DIR=$work/unmounted "$script" ensure "$deps" 2>&1)
check "refused, fresh" "setup-deps: fetching qemu-user from Debian's trixie into $deps/qemu (about 70 MB, once)
$fetch
+ mount -t binfmt_misc binfmt_misc $work/unmounted
$(register "$work/unmounted")
$said" "$out"
check "private apt source" "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://archive.invalid/debian trixie main" \
  "$(cat "$deps/qemu-apt/sources.list")"

# After a restart: the emulator is kept (a version 10 is not fetched again), binfmt_misc is
# mounted, and a stale handler of the same name is replaced.
mkdir -p "$deps/qemu"
printf '#!/bin/sh\necho "qemu-i386 version 10.0.13 (Debian 1:10.0.13+ds-0+deb13u1)"\n' >"$deps/qemu/qemu-i386"
chmod +x "$deps/qemu/qemu-i386"
echo disabled >"$work/mounted/qemu-i386"
out=$(WB_I386_PROBE=refused WB_BINFMT_DIR=$work/mounted "$script" ensure "$deps" 2>&1)
check "refused, emulator kept" "+ ln -sfn qemu-i386 $deps/qemu/i386-binfmt-P
+ sh -c echo -1 > '$work/mounted/qemu-i386'
$(register "$work/mounted")
setup-deps: this kernel runs no 32-bit programs: they now run under qemu-i386 10 ($deps/qemu), handed to it by binfmt_misc until the machine restarts (undo: echo -1 > $work/mounted/qemu-i386, as root)" "$out"
check "status with the handler enabled" emulated "$(echo enabled >"$work/mounted/qemu-i386"; WB_I386_PROBE=runs WB_BINFMT_DIR=$work/mounted "$script" status)"
rm -f "$work/mounted/qemu-i386"

# An emulator older than 10 is fetched again.
sed -i 's/10\.0\.13/7.2.0/' "$deps/qemu/qemu-i386"
out=$(WB_I386_PROBE=refused WB_BINFMT_DIR=$work/mounted "$script" ensure "$deps" 2>&1 | sed -n 2,3p)
check "refused, emulator too old" "$(printf '%s\n' "$fetch" | sed -n 1,2p)" "$out"

# The probe itself: what the i386 loader answers decides; a missing loader stops set-up.
printf '#!/bin/sh\necho "ld.so (Debian GLIBC 2.36) stable release"\n' >"$work/loader-runs"
printf '#!/bin/sh\necho "env: /lib/ld-linux.so.2: Exec format error" >&2\nexit 126\n' >"$work/loader-refused"
printf '#!/bin/sh\necho "error while loading shared libraries" >&2\nexit 127\n' >"$work/loader-broken"
chmod +x "$work"/loader-*
for answer in runs refused; do
  check "probe: $answer" "$( [ $answer = runs ] && echo native || echo refused)" \
    "$(WB_I386_LOADER=$work/loader-$answer WB_BINFMT_DIR=$work/unmounted "$script" status 2>&1)"
done
out=$(WB_I386_LOADER=$work/loader-broken WB_BINFMT_DIR=$work/unmounted "$script" ensure "$deps" 2>&1); status=$?
check "probe: broken loader" "1 setup-deps: cannot tell whether this kernel runs 32-bit programs: $work/loader-broken --version said: error while loading shared libraries" "$status $out"
out=$(WB_I386_LOADER=$work/none WB_BINFMT_DIR=$work/unmounted "$script" ensure "$deps" 2>&1); status=$?
check "probe: no loader" "1 setup-deps: cannot tell whether this kernel runs 32-bit programs: $work/none is missing (wine32 installs it)" "$status $out"

# No Debian archive among the sources: a clear refusal, nothing fetched.
rm -rf "$deps" "$work/apt/sources.list.d/debian.sources"
out=$(WB_I386_PROBE=refused WB_BINFMT_DIR=$work/mounted "$script" ensure "$deps" 2>&1); status=$?
check "no Debian archive" "1 setup-deps: no Debian archive among the apt sources in $work/apt to fetch qemu-user from" "$status $out"

printf '%d passed, %d failed\n' "$passes" "$failures"
[ "$failures" -eq 0 ]
