#!/usr/bin/env bash
# Ctrl-C on the launcher's terminal, end to end.
#
# Usage: ctrl_c_test.sh LAUNCHER WORK_DIR [child-ignores | cached | points N]
#
# Wine turns a SIGINT into CTRL_C_EVENT for the process that receives it, so
# the launcher runs under a pseudo-terminal (script) and gets a real ^C typed
# at that terminal: the terminal sends SIGINT to its foreground process group,
# which holds the launcher and its child. The application (probe_app.dll)
# sleeps for a minute after writing its report. Then:
#   - the launcher ends within the grace period;
#   - its extraction folder is gone;
#   - no process of this run (launcher or child) outlives it.
# The exit status is only printed: Wine 8's default control handler ends a
# process with 0 rather than STATUS_CONTROL_C_EXIT, and the launcher's main
# thread may finish first with the child's code.
# With child-ignores the application swallows the event, so the launcher's
# handler must wait out its 5 s grace and terminate the child itself.
# With cached the launcher is a cached-mode one: the application runs in the
# launcher's own process, the folder stays, and the exit status must not be 0
# (the low byte of 0xC000013A).
# With points N, one undisturbed run is timed from the start to the
# application's report; then N runs each get a ^C at one of N points spread
# evenly over that time (unpacking, the child's start), and not one entry of
# theirs may stay in the temporary folder. The runs' folders cannot be named
# beforehand, so the test compares the folder's onefile_ entries before and
# after each run: no other test may use the Wine user's temporary folder
# meanwhile (CTest's RESOURCE_LOCK wine_user_temp).
#
# The launcher runs in the Wine user's temporary folder: Wine replaces a Unix
# TMP with its own. Exit status 77 marks a skip (no script(1)).
set -u
launcher=$1
work=$2
mode=${3:-}
root=$(cd "$(dirname "$0")/../.." && pwd)
wine_run="$root/tools/wine-run"

fail() { echo "FAIL: $*" >&2; cleanup; exit 1; }
note() { echo "ctrl_c_test: $*"; }

command -v script >/dev/null || { echo "script(1) is missing: skipped"; exit 77; }

script_pid=
cleanup() {
    exec 3>&- 2>/dev/null
    # Only what this test started, by its id.
    [ -n "$script_pid" ] && kill "$script_pid" 2>/dev/null
    if [ -n "${token:-}" ]; then
        for pid in $(token_processes); do kill -KILL "$pid" 2>/dev/null; done
    fi
    [ -n "${folder:-}" ] && rm -rf "$folder"
}

# Ids of the processes whose command line carries this run's token, other
# than script(1) itself: Wine shows each process's Windows command line, which
# for both launcher and child ends in it. Read from /proc, so that no helper
# process (which would carry the token too) takes part.
token_processes() {
    local entry cmdline
    for entry in /proc/[0-9]*; do
        [ "${entry#/proc/}" = "${script_pid:-none}" ] && continue
        cmdline=$({ tr '\0' ' ' <"$entry/cmdline"; } 2>/dev/null) || continue
        [[ $cmdline == *"$token"* ]] && echo "${entry#/proc/}"
    done
    return 0
}

# Waits up to $1 tenths of a second for the command in the rest to succeed.
wait_for() {
    local tenths=$1; shift
    for _ in $(seq "$tenths"); do "$@" && return 0; sleep 0.1; done
    "$@"
}

rm -rf "$work"
mkdir -p "$work"
token="ctrl-c-$$-$RANDOM"

# Starts the launcher under a pseudo-terminal whose keys come from fd 3.
# $1: how long the application sleeps (ms); the rest: extra variables.
start_launcher() {
    local sleep_ms=$1; shift
    rm -f "$work/keys"
    mkfifo "$work/keys"
    # script -e: its exit status is the launcher's; the pid file holds the
    # launcher's Unix pid (exec keeps it through wine-run).
    script -qec "echo \$\$ > '$work/pid'; exec env PROBE_REPORT='$report_windows' PROBE_SLEEP_MS=$sleep_ms $* \
'$wine_run' '$launcher' '$token'" /dev/null <"$work/keys" >"$work/terminal.log" 2>&1 &
    script_pid=$!
    exec 3>"$work/keys"
}
launcher_ended() { ! kill -0 "$script_pid" 2>/dev/null; }
none_left() { [ -z "$(token_processes)" ]; }
now_ms() { echo $(($(date +%s%N) / 1000000)); }
report="$work/report.txt"
report_windows=$("$wine_run" winepath -w "$report" 2>/dev/null | tr -d '\r')
[ -n "$report_windows" ] || fail "winepath gave no Windows name for $report"

if [ "$mode" = points ]; then
    count=${4:-40}
    temp=$("$wine_run" cmd /c 'echo %TEMP%' 2>/dev/null | tr -d '\r')
    temp_unix=$("$wine_run" winepath -u "$temp" 2>/dev/null | tr -d '\r')
    [ -d "$temp_unix" ] || fail "no Unix name for the temporary folder $temp"
    # Only what a run makes: other tests share the temporary folder.
    temp_entries() { ls -1 "$temp_unix" | grep -E '^onefile_[0-9]+_[0-9]{6}_[A-Za-z0-9_-]{11}(\.live)?$' | sort; }

    began=$(now_ms)
    start_launcher 0
    wait_for 600 grep -q '^end$' "$report" 2>/dev/null || fail "the undisturbed run never reported"
    span=$(($(now_ms) - began))
    wait_for 300 launcher_ended || fail "the undisturbed run did not end"
    wait "$script_pid"
    script_pid=
    exec 3>&-

    left=0
    statuses=""
    for point in $(seq "$count"); do
        before=$(temp_entries)
        rm -f "$report"
        delay=$((span * point / (count + 1)))
        began=$(now_ms)
        start_launcher 3000
        while [ $(($(now_ms) - began)) -lt "$delay" ]; do sleep 0.005; done
        printf '\003' >&3
        wait_for 300 launcher_ended || fail "point $point ($delay ms): the launcher did not end after Ctrl-C"
        wait "$script_pid"
        statuses="$statuses $?"
        script_pid=
        exec 3>&-
        wait_for 50 none_left || fail "point $point ($delay ms): a process outlived the launcher: $(token_processes)"
        new=$(comm -13 <(echo "$before") <(temp_entries) | grep -c . || true)
        [ "$new" -eq 0 ] || note "point $point ($delay ms) left: $(comm -13 <(echo "$before") <(temp_entries) | tr '\n' ' ')"
        left=$((left + new))
    done
    note "exit statuses:$statuses"
    echo "Ctrl-C at $count points over the unpacking and start of the application ($span ms undisturbed): $left entries left"
    [ "$left" -eq 0 ] || fail "$left entries left in $temp_unix"
    cleanup
    rm -rf "$work"
    echo "PASS"
    exit 0
fi

extra=""
[ "$mode" = child-ignores ] && extra="PROBE_IGNORE_CTRL_C=1"
start_launcher 60000 "$extra"

wait_for 300 grep -q '^end$' "$report" 2>/dev/null || fail "the application never reported"
library=$(sed -n 's/^library\t//p' "$report" | sed 's/\\\\/\\/g')
folder=$("$wine_run" winepath -u "${library%\\*}" 2>/dev/null | tr -d '\r')
folder=${folder%/}
[ -d "$folder" ] || fail "extraction folder $folder is not there while the application runs"
processes=$(token_processes | wc -l)
note "launcher pid $(cat "$work/pid"), $processes processes carry the run's token, folder $folder"
if [ "$mode" = cached ]; then
    [ "$processes" -ge 1 ] || fail "expected the launcher, found $processes processes"
else
    [ "$processes" -ge 2 ] || fail "expected the launcher and its child, found $processes processes"
fi

printf '\003' >&3
wait_for 300 launcher_ended || fail "the launcher did not end after Ctrl-C"
wait "$script_pid"
status=$?
script_pid=
note "launcher exit status $status"
if [ "$mode" = cached ]; then
    [ "$status" = $((0xC000013A & 0xFF)) ] || fail "an interrupted cached run ended with status $status"
    [ -d "$folder" ] || fail "the cached folder $folder was removed"
    rm -rf "${folder%/*}"
else
    [ ! -e "$folder" ] || fail "extraction folder $folder survived"
fi
wait_for 50 none_left || fail "a process outlived the launcher: $(token_processes)"
folder=
cleanup
rm -rf "$work"
echo "PASS"
