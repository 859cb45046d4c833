#!/usr/bin/env bash
# Installs what is missing, builds both trees and runs every test: the host
# tests natively, the Windows tests under Wine with a private, warmed-up prefix.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup.sh"
"$root/tools/build.sh"

status=0
ctest --test-dir "$root/build/host" --output-on-failure -j "$(nproc)" || status=1

# A server already serving the prefix is left running; one started here is
# stopped at the end.
if ! "$root/tools/wine-session" running; then
    "$root/tools/wine-session" start
    trap '"$root/tools/wine-session" stop' EXIT
fi
ctest --test-dir "$root/build/windows" --output-on-failure -j "$(nproc)" || status=1
exit $status
