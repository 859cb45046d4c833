#!/usr/bin/env python3
"""Builds the benchmark's application folder: about 100 MB in 58 files.

Shaped like a typical packed application: the application library first (the
benchmark's bench_app.dll), 56 further libraries of sizes spread from a few
tens of kilobytes to about ten megabytes, and one icon; 27 of the files lie in
subfolders one or two levels deep, and names run up to 68 characters.

The libraries are real binaries found on this machine (shared libraries, the
cross toolchain's DLLs and archives), so they compress like real ones. The
choice is deterministic: candidates are sorted by path, each of 56 target
sizes (a geometric series that sums to the target total) takes the unused
candidate nearest in size, the earlier path winning a tie. The same machine
therefore always gives the same folder; the script prints a digest of the
chosen list to show it.

Usage: make_payload.py --app-dll FILE --icon FILE --output DIR
                       [--total-bytes N] [--list FILE]
"""
import argparse
import hashlib
import os
import re
import shutil
import sys

SEARCH_ROOTS = [
    "/usr/lib/x86_64-linux-gnu",
    "/usr/lib/gcc/x86_64-w64-mingw32",
    "/usr/x86_64-w64-mingw32/lib",
]
LIBRARY_COUNT = 56
SUBFOLDER_COUNT = 27
SMALLEST_TARGET = 24 * 1024
LONGEST_NAME = 68
# One and two levels deep, as a typical application lays out its plugins.
SUBFOLDERS = [
    "lib",
    "plugins\\platforms",
    "plugins\\imageformats",
    "runtime",
    "plugins\\sqldrivers",
    "extensions\\codecs",
]


def is_library(name):
    return name.endswith((".a", ".dll")) or re.search(r"\.so(\.\d+)*$", name) is not None


def candidates():
    """Every regular library file under the search roots, by path."""
    found = []
    for root in SEARCH_ROOTS:
        for folder, subfolders, names in os.walk(root):
            subfolders.sort()
            for name in names:
                path = os.path.join(folder, name)
                if not is_library(name) or os.path.islink(path) or not os.path.isfile(path):
                    continue
                if not os.access(path, os.R_OK):
                    continue
                size = os.path.getsize(path)
                if size >= SMALLEST_TARGET // 2:
                    found.append((path, size))
    found.sort()
    return found


def target_sizes(total, count, smallest):
    """count sizes in a geometric series from the largest down to smallest
    whose sum is total."""
    def series(largest):
        ratio = (smallest / largest) ** (1.0 / (count - 1))
        return [largest * ratio ** i for i in range(count)]

    low, high = float(smallest), float(total)
    for _ in range(100):
        middle = (low + high) / 2
        if sum(series(middle)) > total:
            high = middle
        else:
            low = middle
    return [int(size) for size in series(low)]


def file_digest(path):
    digest = hashlib.sha256()
    with open(path, "rb") as stream:
        for block in iter(lambda: stream.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def choose(pool, sizes):
    """For each target size the nearest unused candidate; copies of a file
    already chosen are skipped (the window would fold them to nothing)."""
    chosen = []
    taken = set()
    contents = set()
    for target in sizes:
        order = sorted(range(len(pool)), key=lambda i: (abs(pool[i][1] - target), pool[i][0]))
        for index in order:
            if index in taken:
                continue
            taken.add(index)
            digest = file_digest(pool[index][0])
            if digest in contents:
                continue
            contents.add(digest)
            chosen.append(pool[index])
            break
    return chosen


def base_name(path):
    """A Windows-looking library name: version suffixes dropped, .so -> .dll."""
    name = os.path.basename(path)
    name = re.sub(r"\.so(\.\d+)*$", ".dll", name)
    if name.endswith(".a"):
        name = name[:-2] + ".lib"
    return name


def entry_names(chosen):
    """Archive names: every other library (from the second on) in a subfolder
    until 27 are placed, names cut to at most 68 characters, no two alike
    regardless of case."""
    names = []
    used = set()
    placed = 0
    for index, (path, _) in enumerate(chosen):
        folder = ""
        if index % 2 == 1 and placed < SUBFOLDER_COUNT:
            folder = SUBFOLDERS[placed % len(SUBFOLDERS)] + "\\"
            placed += 1
        stem, dot, extension = base_name(path).rpartition(".")
        room = LONGEST_NAME - len(folder) - len(extension) - 1
        name = folder + stem[:room] + dot + extension
        counter = 2
        while name.lower() in used:
            suffix = "_%d" % counter
            name = folder + stem[: room - len(suffix)] + suffix + dot + extension
            counter += 1
        used.add(name.lower())
        names.append(name)
    # The longest name is stretched to exactly the limit, as a packed
    # application's deepest plugin names are long.
    longest = max(range(len(names)), key=lambda i: (len(names[i]), -i))
    stem, dot, extension = names[longest].rpartition(".")
    filler = "_plugin_support_library_for_the_application"
    names[longest] = (stem + filler)[: LONGEST_NAME - len(extension) - 1] + dot + extension
    return names


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--app-dll", required=True)
    parser.add_argument("--icon", required=True)
    parser.add_argument("--output", required=True)
    parser.add_argument("--total-bytes", type=int, default=100_000_000)
    parser.add_argument("--list", help="also write the chosen files to this list")
    arguments = parser.parse_args()

    fixed = os.path.getsize(arguments.app_dll) + os.path.getsize(arguments.icon)
    pool = candidates()
    if len(pool) < 2 * LIBRARY_COUNT:
        sys.exit("make_payload: only %d candidate files found" % len(pool))
    chosen = choose(pool, target_sizes(arguments.total_bytes - fixed, LIBRARY_COUNT, SMALLEST_TARGET))
    if len(chosen) != LIBRARY_COUNT:
        sys.exit("make_payload: found only %d distinct files" % len(chosen))
    names = entry_names(chosen)

    if os.path.exists(arguments.output):
        shutil.rmtree(arguments.output)
    os.makedirs(arguments.output)
    shutil.copyfile(arguments.app_dll, os.path.join(arguments.output, os.path.basename(arguments.app_dll)))
    shutil.copyfile(arguments.icon, os.path.join(arguments.output, "app.ico"))
    lines = []
    for (source, size), name in zip(chosen, names):
        target = os.path.join(arguments.output, *name.split("\\"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(source, target)
        lines.append("%s\t%d\t%s" % (name, size, source))
    listing = "\n".join(lines) + "\n"
    if arguments.list:
        with open(arguments.list, "w") as stream:
            stream.write(listing)

    total = fixed + sum(size for _, size in chosen)
    deep = sum(1 for name in names if "\\" in name)
    print("make_payload: %d files, %d bytes, %d in subfolders, longest name %d, list digest %s"
          % (len(chosen) + 2, total, deep, max(len(n) for n in names),
             hashlib.sha256(listing.encode()).hexdigest()[:16]))


if __name__ == "__main__":
    main()
