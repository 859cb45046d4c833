#!/usr/bin/env bash
# The CMake package from a user's side:
#   install this Windows tree into a scratch prefix; configure a copy of
#   tests/package/consumer against it with the mingw-w64 toolchain (once with
#   a misuse that must stop the configuration); build; run the plain and the
#   signed executable under Wine (same output, same exit code); build again
#   with nothing changed (nothing is made), after changing the data file and
#   after changing the imported library's source (the .exe is made again and
#   shows the change).
# Usage: consumer_test.sh SOURCE_ROOT WINDOWS_TREE SCRATCH
set -euo pipefail
root=$1
tree=$2
scratch=$3
wine_run=$root/tools/wine-run

fail() {
    echo "consumer_test: $*" >&2
    exit 1
}

rm -rf "$scratch"
mkdir -p "$scratch"
prefix=$scratch/prefix
src=$scratch/src
build=$scratch/build
cp -r "$root/tests/package/consumer" "$src"

cmake --install "$tree" --prefix "$prefix" >/dev/null
for installed in bin/onefile-build lib/onefile/kit/toolchain.txt lib/onefile/kit/libonefile_launcher.a \
    lib/cmake/Onefile/OnefileConfig.cmake lib/cmake/Onefile/OnefileConfigVersion.cmake; do
    [ -f "$prefix/$installed" ] || fail "the install lacks $installed"
done

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$scratch/sign.key" -out "$scratch/sign.pem" -days 30 \
    -subj "/CN=Onefile Consumer Test" -addext extendedKeyUsage=codeSigning 2>/dev/null

configure() {
    cmake -S "$src" -B "$1" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_PREFIX_PATH="$prefix" "${@:2}"
}

# A static library cannot be the application library: configuring stops.
if misuse=$(configure "$scratch/misuse" -DCONSUMER_MISUSE=ON 2>&1); then
    fail "configuring with a static APP_LIBRARY succeeded"
fi
# CMake wraps its messages: compare with the lines joined.
tr -s ' \n' '  ' <<<"$misuse" | grep -q "APP_LIBRARY consumer_static is a STATIC_LIBRARY, not a SHARED library" ||
    fail "misuse message missing: $misuse"

configure "$build" -DCONSUMER_SIGN_CERT="$scratch/sign.pem" -DCONSUMER_SIGN_KEY="$scratch/sign.key" >/dev/null
cmake --build "$build" >/dev/null

expected_output() {
    printf '%s\n' "$1" "message: $2" "argument: alpha" "argument: two words"
}

# Runs an executable under Wine; prints its output, then its exit code.
run_app() {
    local output status
    set +e
    output=$("$wine_run" "$1" alpha "two words" 2>&1 | tr -d '\r')
    status=${PIPESTATUS[0]}
    set -e
    printf '%s\nexit %s\n' "$output" "$status"
}

check_run() {
    local exe=$1 greeting=$2 message=$3 got want
    got=$(run_app "$exe")
    want="$(expected_output "$greeting" "$message")
exit 43"
    [ "$got" = "$want" ] || fail "$(basename "$exe") printed:
$got
--- instead of:
$want"
}

plain=$build/ConsumerApp.exe
signed=$build/ConsumerAppSigned.exe
check_run "$plain" "greeting from consumer_greeting.dll" "first message"
check_run "$signed" "greeting from consumer_greeting.dll" "first message"
osslsigncode verify -CAfile "$scratch/sign.pem" -in "$signed" >/dev/null || fail "ConsumerAppSigned.exe does not verify"

# Nothing changed: nothing is made again.
made=$(stat -c %y "$plain")
cmake --build "$build" >/dev/null
[ "$(stat -c %y "$plain")" = "$made" ] || fail "a build with nothing changed made ConsumerApp.exe again"

# A changed data file and a changed imported library each make it again.
printf 'second message\n' >"$src/data/message.txt"
cmake --build "$build" >/dev/null
check_run "$plain" "greeting from consumer_greeting.dll" "second message"

sed -i 's/greeting from consumer_greeting.dll/changed greeting/' "$src/greeting.c"
cmake --build "$build" >/dev/null
check_run "$plain" "changed greeting" "second message"
check_run "$signed" "changed greeting" "second message"

# A file added to a packed folder counts as well.
printf 'extra\n' >"$src/data/extra.txt"
made=$(stat -c %y "$plain")
cmake --build "$build" >/dev/null
[ "$(stat -c %y "$plain")" != "$made" ] || fail "a file added to data/ did not make ConsumerApp.exe again"
echo "consumer_test: passed"
