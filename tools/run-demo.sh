#!/usr/bin/env bash
# Builds everything and runs the demo launcher under Wine: the README's first
# command, meant for a fresh Debian 12 machine (as root, or with sudo).
#
#   tools/run-demo.sh              set up, build, run the demo
#   tools/run-demo.sh --no-build   run the demo already built
#
# The demo is run as demo.exe hello "two words" --exit-code 3. Its
# application prints what it sees; this script then prints the launcher's
# exit code and shows that the extraction folder (in the Wine user's
# temporary folder) is gone again. ONEFILE_DEMO_EXE names another demo.exe.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
: "${ONEFILE_WINEPREFIX:=$root/build/wineprefix}"
export ONEFILE_WINEPREFIX
demo=${ONEFILE_DEMO_EXE:-$root/build/windows/demo/demo.exe}

build=1
case "${1:-}" in
    "") ;;
    --no-build) build=0 ;;
    *) echo "usage: $0 [--no-build]" >&2; exit 2 ;;
esac

if [ "$build" = 1 ]; then
    "$root/tools/setup.sh"
    "$root/tools/build.sh"
fi
[ -f "$demo" ] || { echo "run-demo: $demo is missing; run without --no-build" >&2; exit 2; }

# A wineserver already serving this prefix (another session, a test run) is
# left alone; one started here is stopped again at the end.
if ! "$root/tools/wine-session" running; then
    echo "run-demo: starting the Wine session (the first start of a new prefix takes a while)"
    "$root/tools/wine-session" start
    trap '"$root/tools/wine-session" stop' EXIT
fi

wine() { "$root/tools/wine-run" "$@"; }
unix_path() { wine winepath -u "$1" 2>/dev/null | tr -d '\r'; }
temp_windows=$(wine cmd /c 'echo %TEMP%' 2>/dev/null | tr -d '\r')
temp_unix=$(unix_path "$temp_windows")
temp_unix=${temp_unix%/}
list_extraction_folders() {
    (cd "$temp_unix" 2>/dev/null && ls -d onefile_* 2>/dev/null) || true
}

echo "Wine's temporary folder: $temp_windows ($temp_unix)"
before=$(list_extraction_folders)
echo "onefile_* entries there before the run: ${before:-none}"
echo
echo "\$ demo.exe hello \"two words\" --exit-code 3"
output_file=$(mktemp)
set +e
wine "$demo" hello "two words" --exit-code 3 | tee "$output_file"
status=${PIPESTATUS[0]}
set -e
echo
echo "demo.exe exited with code $status"

library=$(sed -n 's/^Loaded from: //p' "$output_file" | tr -d '\r')
rm -f "$output_file"
if [ -n "$library" ]; then
    folder_unix=$(unix_path "${library%\\*}")
    folder_unix=${folder_unix%/}
    if [ -e "$folder_unix" ]; then
        echo "The extraction folder ${library%\\*} is still there."
    else
        echo "The extraction folder ${library%\\*} is gone."
    fi
fi
after=$(list_extraction_folders)
echo "onefile_* entries there after the run: ${after:-none}"
