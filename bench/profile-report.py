#!/usr/bin/env python3
"""Reads the stacks that window_bench sampled and prints where the time went.

  profile-report.py PROFILE EXE [--top N]

PROFILE holds one line per distinct stack: the number of samples, then the frames innermost first as
module+0xoffset. Frames in EXE are named by its symbol table (the cross toolchain's nm); frames elsewhere by their
module. Prints the functions by inclusive share (on the stack) and by self share (innermost frame of the program).
"""
import argparse
import bisect
import collections
import os
import re
import subprocess


def image_base(exe):
    out = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", exe], capture_output=True, text=True).stdout
    m = re.search(r"^ImageBase\s+([0-9a-fA-F]+)", out, re.M)
    return int(m.group(1), 16) if m else 0x140000000


def symbols(exe):
    out = subprocess.run(["x86_64-w64-mingw32-nm", "--demangle", "--defined-only", "-n", exe],
                         capture_output=True, text=True).stdout
    addrs, names = [], []
    for line in out.splitlines():
        parts = line.split(" ", 2)
        if len(parts) == 3 and parts[1] in "tTwW":
            addrs.append(int(parts[0], 16))
            names.append(parts[2])
    return addrs, names


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("profile")
    parser.add_argument("exe")
    parser.add_argument("--top", type=int, default=25)
    parser.add_argument("--focus", help="also list the callers and callees of this function")
    args = parser.parse_args()
    exe_name = os.path.basename(args.exe).lower()
    base = image_base(args.exe)
    addrs, names = symbols(args.exe)

    def name(frame):
        module, _, offset = frame.rpartition("+0x")
        if module.lower() != exe_name:
            return module
        address = base + int(offset, 16)
        i = bisect.bisect_right(addrs, address) - 1
        if i < 0:
            return "?"
        text = names[i]
        return re.sub(r"\(.*", "", text)[:110]

    inclusive = collections.Counter()
    self_time = collections.Counter()
    callers = collections.Counter()
    callees = collections.Counter()
    total = 0
    for line in open(args.profile):
        fields = line.split()
        if not fields:
            continue
        count = int(fields[0])
        total += count
        frames = [name(f) for f in fields[1:]]
        for n in set(frames):
            inclusive[n] += count
        if args.focus and args.focus in frames:
            # Innermost frame first: the outermost occurrence, so that recursion is counted once.
            i = len(frames) - 1 - frames[::-1].index(args.focus)
            callers[frames[i + 1] if i + 1 < len(frames) else "-"] += count
            callees[frames[i - 1] if i > 0 else "(self)"] += count
        # The innermost frame that is the program's own code, and the module that ran under it.
        own = next((n for f, n in zip(fields[1:], frames) if f.rpartition("+0x")[0].lower() == exe_name), None)
        self_time[(own or "-") + "  <  " + frames[0]] += count
    print("%d samples" % total)
    print("\nInclusive (share of samples with the function on the stack):")
    for n, c in inclusive.most_common(args.top):
        print("  %5.1f %%  %s" % (100.0 * c / total, n))
    if args.focus:
        for title, counter in (("Callers of", callers), ("Callees of", callees)):
            print("\n%s %s:" % (title, args.focus))
            for n, c in counter.most_common(args.top):
                print("  %5.1f %%  %s" % (100.0 * c / total, n))
    print("\nSelf (innermost own function < module that ran):")
    for n, c in self_time.most_common(args.top):
        print("  %5.1f %%  %s" % (100.0 * c / total, n))


if __name__ == "__main__":
    main()
