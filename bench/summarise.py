#!/usr/bin/env python3
"""Turns the benchmark's raw figures into the report tools/benchmark.sh prints.

Usage: summarise.py ROUNDS_FILE BUILD_FILE

ROUNDS_FILE holds bench_harness's lines (round 0 is the warm-up and is left
out); BUILD_FILE holds key=value lines written by tools/benchmark.sh about the
build and the compression levels. Times are medians over the rounds, with the
minimum, the maximum and the spread (max - min) beside them.
"""
import statistics
import sys

LIMIT_TARGET = 1.15
MEMORY_TARGET = 1.10
# The cached mode: a warm start against a plain folder's host program, a cold
# start against a temp-mode run, a content check against a warm start.
WARM_TARGET = 1.3
COLD_TARGET = 1.1
CONTENT_CHECK_SHARE = 0.15


def parse_lines(path):
    rows = []
    with open(path) as stream:
        for line in stream:
            line = line.strip()
            if "=" in line:
                rows.append(dict(piece.split("=", 1) for piece in line.split()))
    return rows


def column(rows, key, scale=1.0):
    return [float(row[key]) * scale for row in rows]


def stats(values):
    return statistics.median(values), min(values), max(values)


def ms(value):
    return "%8.1f" % (value * 1000.0)


def mb(value):
    return "%7.1f MB" % (value / 1e6)


def verdict(value, target):
    return "met" if value <= target else "MISSED"


def print_cached_mode(rounds, robustness):
    print()
    print("Cached mode, same application (milliseconds):")
    print("%-44s %8s %8s %8s %8s" % ("", "median", "min", "max", "spread"))
    for label, key in [("warm start (launcher, start to exit)", "warm_seconds"),
                       ("plain-folder floor (plain_host)", "plain_host_seconds"),
                       ("cold start, empty cache", "cold_seconds"),
                       ("temp-mode run (launcher above)", "launcher_seconds"),
                       ("reading every cached file once", "read_seconds")]:
        median, low, high = stats(column(rounds, key))
        print("%-44s %s %s %s %s" % (label, ms(median), ms(low), ms(high), ms(high - low)))
    warm, warm_min, _ = stats(column(rounds, "warm_seconds"))
    plain, plain_min, _ = stats(column(rounds, "plain_host_seconds"))
    cold, cold_min, _ = stats(column(rounds, "cold_seconds"))
    temp, temp_min, _ = stats(column(rounds, "launcher_seconds"))
    read = statistics.median(column(rounds, "read_seconds"))
    print()
    print("ratio warm start / plain-folder floor: %.3f on medians, %.3f on minimums (target at most %.2f): %s"
          % (warm / plain, warm_min / plain_min, WARM_TARGET, verdict(warm / plain, WARM_TARGET)))
    print("ratio cold start / temp-mode run: %.3f on medians, %.3f on minimums (target at most %.2f): %s"
          % (cold / temp, cold_min / temp_min, COLD_TARGET, verdict(cold / temp, COLD_TARGET)))
    print("content check, reading alone / warm start: %.2f (worth doing at most %.2f): %s"
          % (read / warm, CONTENT_CHECK_SHARE,
             "worth it" if read / warm <= CONTENT_CHECK_SHARE else "too dear; sizes are checked instead"))
    if robustness:
        starts = int(robustness["race_starts"])
        print("%d first starts at once: %s right exit codes, %s final folder(s), %s staging folder(s) left: %s"
              % (starts, robustness["race_right_codes"], robustness["race_final_folders"],
                 robustness["race_staging_left"],
                 "met" if (int(robustness["race_right_codes"]) == starts and robustness["race_final_folders"] == "1"
                           and robustness["race_staging_left"] == "0") else "MISSED"))
        points = int(robustness["kill_points"])
        print("runs ended at %d points of a cold start (%s of them while unpacking): next start succeeded %s times, "
              "%s staging folder(s) left: %s"
              % (points, robustness["kill_during_unpacking"], robustness["kill_next_ok"],
                 robustness["kill_staging_left"],
                 "met" if int(robustness["kill_next_ok"]) == points and robustness["kill_staging_left"] == "0"
                 else "MISSED"))


def main():
    lines_read = parse_lines(sys.argv[1])
    rounds = [row for row in lines_read if "round" in row and row["round"] != "0"]
    robustness = next((row for row in lines_read if "race_starts" in row), None)
    build = {}
    for row in parse_lines(sys.argv[2]):
        build.update(row)
    if not rounds:
        sys.exit("summarise: no measured rounds")
    for row in rounds:
        row["floor_seconds"] = 2 * float(row["empty_seconds"])
        row["limit_seconds"] = (float(row["decode_seconds"]) + float(row["write_seconds"]) +
                                float(row["delete_seconds"]) + row["floor_seconds"])
        # The same limit with the two shell costs the launcher's contract
        # fixes: the SHELL32 import in both processes and the deletion
        # through SHFileOperationW.
        row["shell_limit_seconds"] = (float(row["decode_seconds"]) + float(row["write_seconds"]) +
                                      float(row["shell_delete_seconds"]) + 2 * float(row["empty_shell_seconds"]))
        row["child_start"] = float(row["launcher_creation_lag_seconds"]) + float(row["child_from_creation_seconds"])
        row["tiny_child_start"] = (float(row["tiny_launcher_creation_lag_seconds"]) +
                                   float(row["tiny_child_from_creation_seconds"]))

    print()
    print("Extraction: %d rounds after one warm-up; %s files, %s archive bytes"
          % (len(rounds), rounds[0]["files"], rounds[0]["archive_bytes"]))
    print("%-44s %8s %8s %8s %8s" % ("(milliseconds)", "median", "min", "max", "spread"))
    lines = [
        ("launcher, start to exit", "launcher_seconds"),
        ("decompression limit (decode_limit)", "decode_seconds"),
        ("file-writing limit (write_limit)", "write_seconds"),
        ("deletion limit (delete_limit)", "delete_seconds"),
        ("empty program, one start", "empty_seconds"),
        ("two starts (2 x empty program)", "floor_seconds"),
        ("limit: decode + write + delete + two starts", "limit_seconds"),
        ("empty program importing SHELL32", "empty_shell_seconds"),
        ("deletion with SHFileOperationW", "shell_delete_seconds"),
        ("limit with both shell costs", "shell_limit_seconds"),
    ]
    for label, key in lines:
        median, low, high = stats(column(rounds, key))
        print("%-44s %s %s %s %s" % (label, ms(median), ms(low), ms(high), ms(high - low)))

    launcher_median, launcher_min, _ = stats(column(rounds, "launcher_seconds"))
    limit_median, limit_min, _ = stats(column(rounds, "limit_seconds"))
    ratio_median = launcher_median / limit_median
    ratio_min = launcher_min / limit_min
    print()
    print("ratio launcher / limit: %.3f on medians, %.3f on minimums (target at most %.2f): %s"
          % (ratio_median, ratio_min, LIMIT_TARGET, "met" if ratio_median <= LIMIT_TARGET else "MISSED"))

    shell_median, shell_min, _ = stats(column(rounds, "shell_limit_seconds"))
    print("ratio launcher / limit with both shell costs: %.3f on medians, %.3f on minimums"
          % (launcher_median / shell_median, launcher_min / shell_min))

    parent_peak = statistics.median(column(rounds, "parent_peak_working_set"))
    decoder_peak = statistics.median(column(rounds, "decode_peak_working_set"))
    tiny_peak = statistics.median(column(rounds, "tiny_parent_peak_working_set"))
    print("peak working set: parent %s, decoder %s, ratio %.3f (target at most %.2f): %s; tiny launcher's parent %s"
          % (mb(parent_peak).strip(), mb(decoder_peak).strip(), parent_peak / decoder_peak, MEMORY_TARGET,
             "met" if parent_peak / decoder_peak <= MEMORY_TARGET else "MISSED", mb(tiny_peak).strip()))

    print()
    print("Child start, parent's CreateProcessW to run_code entry (milliseconds):")
    print("%-44s %8s %8s %8s" % ("", "median", "min", "max"))
    for label, total, lag in [("tiny payload", "tiny_child_start", "tiny_launcher_creation_lag_seconds"),
                              ("100 MB payload", "child_start", "launcher_creation_lag_seconds")]:
        median, low, high = stats(column(rounds, total))
        print("%-44s %s %s %s   (of which before the creation stamp: %s)"
              % (label, ms(median), ms(low), ms(high), ms(statistics.median(column(rounds, lag))).strip()))

    if "warm_seconds" in rounds[0]:
        print_cached_mode(rounds, robustness)

    if build:
        print()
        archive = float(build["archive_bytes"])
        print("Build: onefile-build at the default level %s: %.1f s, payload block %d bytes (ratio %.2f)"
              % (build["default_level"], float(build["build_seconds"]), int(build["block_bytes"]),
                 archive / float(build["block_bytes"])))
        levels = sorted(int(key[len("zstd_level"):-len("_bytes")]) for key in build
                        if key.startswith("zstd_level") and key.endswith("_bytes"))
        if levels:
            print("zstd CLI, 2^27 window, %s threads, same archive (%d bytes):" % (build.get("zstd_threads", "?"),
                                                                                  int(archive)))
            print("%-10s %12s %8s %10s %18s" % ("level", "frame bytes", "ratio", "seconds", "decode ms (median)"))
            for level in levels:
                size = int(build["zstd_level%d_bytes" % level])
                decode = build.get("zstd_level%d_decode_seconds" % level)
                print("%-10d %12d %8.2f %10.1f %18s" % (level, size, archive / size,
                                                         float(build["zstd_level%d_seconds" % level]),
                                                         ms(float(decode)).strip() if decode else "-"))


if __name__ == "__main__":
    main()
