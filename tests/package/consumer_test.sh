#!/usr/bin/env bash
# The CMake package from a user's side: install this Windows tree into a
# scratch prefix, configure a copy of tests/package/consumer against it with
# the mingw-w64 toolchain (a misuse must stop the configuration), build, run
# the plain and the signed executable under Wine (same output and exit code),
# then build again: unchanged inputs make nothing, a changed data file, a
# changed imported library and an added data file each make the .exe again.
# Usage: consumer_test.sh SOURCE_ROOT WINDOWS_TREE SCRATCH
set -euo pipefail
root=$1 tree=$2 scratch=$3
prefix=$scratch/prefix src=$scratch/src build=$scratch/build
fail() {
    echo "consumer_test: $*" >&2
    exit 1
}

rm -rf "$scratch"
mkdir -p "$scratch"
cp -r "$root/tests/package/consumer" "$src"
cmake --install "$tree" --prefix "$prefix" >/dev/null
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$scratch/sign.key" -out "$scratch/sign.pem" -days 30 \
    -subj "/CN=Onefile Consumer Test" -addext extendedKeyUsage=codeSigning 2>/dev/null
configure() {
    cmake -S "$src" -B "$1" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_PREFIX_PATH="$prefix" "${@:2}"
}

if misuse=$(configure "$scratch/misuse" -DCONSUMER_MISUSE=ON 2>&1); then
    fail "configuring with a static APP_LIBRARY succeeded"
fi
# CMake wraps its messages: compare with the lines joined.
tr -s ' \n' '  ' <<<"$misuse" | grep -q "APP_LIBRARY consumer_static is a STATIC_LIBRARY, not a SHARED library" ||
    fail "misuse message missing: $misuse"

configure "$build" -DCONSUMER_SIGN_CERT="$scratch/sign.pem" -DCONSUMER_SIGN_KEY="$scratch/sign.key" >/dev/null
cmake --build "$build" >/dev/null
for staged in consumer_app.dll consumer_greeting.dll greeting.h data/message.txt; do
    [ -f "$build/ConsumerApp.onefile/$staged" ] || fail "the staged application folder lacks $staged"
done
osslsigncode verify -CAfile "$scratch/sign.pem" -in "$build/ConsumerAppSigned.exe" >/dev/null ||
    fail "ConsumerAppSigned.exe does not verify"

check_run() { # EXE GREETING MESSAGE
    local got want status
    set +e
    got=$("$root/tools/wine-run" "$1" alpha "two words" 2>&1 | tr -d '\r')
    status=${PIPESTATUS[0]}
    set -e
    want=$(printf '%s\n' "$2" "message: $3" "argument: alpha" "argument: two words")
    [ "$got" = "$want" ] && [ "$status" = 43 ] ||
        fail "$(basename "$1") exited with $status and printed:"$'\n'"$got"$'\n'"--- instead of 43 and:"$'\n'"$want"
}
rebuild_makes() { # YES|NO WHAT
    local made
    made=$(stat -c %y "$build/ConsumerApp.exe")
    cmake --build "$build" >/dev/null
    if [ "$(stat -c %y "$build/ConsumerApp.exe")" = "$made" ]; then
        [ "$1" = NO ] || fail "$2 did not make ConsumerApp.exe again"
    else
        [ "$1" = YES ] || fail "$2 made ConsumerApp.exe again"
    fi
}

for exe in ConsumerApp ConsumerAppSigned; do
    check_run "$build/$exe.exe" "greeting from consumer_greeting.dll" "first message"
done
rebuild_makes NO "a build with nothing changed"
printf 'second message\n' >"$src/data/message.txt"
rebuild_makes YES "a changed data file"
sed -i 's/greeting from consumer_greeting.dll/changed greeting/' "$src/greeting.c"
rebuild_makes YES "a changed imported library"
for exe in ConsumerApp ConsumerAppSigned; do
    check_run "$build/$exe.exe" "changed greeting" "second message"
done
printf 'extra\n' >"$src/data/extra.txt"
rebuild_makes YES "a file added to data/"
echo "consumer_test: passed"
